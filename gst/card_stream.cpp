#include "card_stream.h"

#include <algorithm>
#include <cstring>

namespace lxgst {

namespace {

constexpr uint32_t kPageBytes = 4096;
// Frames in the ring: the copy out of an entry has this many frame times
// before the card writes it again.
constexpr uint32_t kMostRingFrames = 8;

}  // namespace

CardStream::~CardStream() { stop(); }

bool CardStream::fail(const std::string& step, LxStatus status, std::string* what) {
  *what = step + ": " + LxGetErrorString(status) + " (" + std::to_string(status) + ")";
  stop();
  return false;
}

bool CardStream::start(const VideoSettings& settings, std::string* what) {
  stop();
  if (const LxStatus status = BeginLxCard(settings.card, &card_); status != LX_OK) {
    card_ = nullptr;
    return fail("opening card " + std::to_string(settings.card), status, what);
  }
  if (const LxStatus status = LxSetVideoSource(card_, settings.input); status != LX_OK) {
    return fail("selecting input " + inputName(settings.input), status, what);
  }
  if (const LxStatus status = LxSetVideoStandard(card_, settings.standard); status != LX_OK) {
    return fail("setting the standard " + standardName(settings.standard), status, what);
  }
  if (const LxStatus status = LxSetVideoFormat(card_, settings.format); status != LX_OK) {
    return fail("setting the format " + formatName(settings.format), status, what);
  }
  if (const LxStatus status = LxSetScanMode(card_, LX_SCAN_MODE_FRAME); status != LX_OK) {
    return fail("setting frame scan", status, what);
  }
  if (const LxStatus status = LxSetOutputWindow(card_, 0, 0, settings.width, settings.height); status != LX_OK) {
    return fail("setting the window " + std::to_string(settings.width) + "x" + std::to_string(settings.height),
                status, what);
  }

  frameBytes_ = frameBytesOf(settings);
  uint32_t pages = 0;
  if (const LxStatus status = LxGetStaticMem(&pages); status != LX_OK) {
    return fail("reading the static memory size", status, what);
  }
  const uint64_t room = uint64_t{pages} * kPageBytes / frameBytes_;
  // A ring of one woven frame cannot move on: two at the least.
  if (room < 2) {
    *what = "the static memory (" + std::to_string(pages) + " pages) holds fewer than two frames of " +
            std::to_string(frameBytes_) + " bytes";
    stop();
    return false;
  }
  ringFrames_ = static_cast<uint32_t>(std::min<uint64_t>(room, kMostRingFrames));
  void* address = nullptr;
  if (const LxStatus status =
          LxStaticMemLock(0, static_cast<uint32_t>(frameBytes_ * ringFrames_), &lock_, &address);
      status != LX_OK) {
    lock_ = nullptr;
    return fail("mapping the static memory", status, what);
  }
  ring_ = static_cast<const uint8_t*>(address);

  if (const LxStatus status = LxOpenSnapEx(card_, onFrame, this); status != LX_OK) {
    return fail("opening snap-ex", status, what);
  }
  snapExOpen_ = true;
  if (const LxStatus status = LxStartSnapEx(card_, 0, 1, static_cast<uint16_t>(ringFrames_)); status != LX_OK) {
    return fail("starting the snap", status, what);
  }
  return true;
}

void CardStream::stop() {
  if (snapExOpen_) {
    // Returns once no callback runs or will run.
    LxStopSnapEx(card_);
    LxCloseSnapEx(card_);
    snapExOpen_ = false;
  }
  if (lock_ != nullptr) {
    LxStaticMemUnlock(lock_);
    lock_ = nullptr;
    ring_ = nullptr;
  }
  if (card_ != nullptr) {
    EndLxCard(card_);
    card_ = nullptr;
  }
}

int32_t CardStream::onFrame(SnapExInfo* info) {
  auto* self = static_cast<CardStream*>(info->context);
  if (info->frameIndex < 0 || static_cast<uint32_t>(info->frameIndex) >= self->ringFrames_) {
    return 0;  // not an entry of this ring: nothing safe to copy
  }
  CapturedFrame frame;
  frame.bytes.resize(self->frameBytes_);
  std::memcpy(frame.bytes.data(), self->ring_ + uint64_t(info->frameIndex) * self->frameBytes_, self->frameBytes_);
  frame.timestampNs = info->timestampNs;
  frame.sequence = info->sequence;
  frame.skipped = info->skipped;
  self->queue_.push(std::move(frame));
  return 0;
}

}  // namespace lxgst

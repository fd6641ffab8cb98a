#include "card_session.h"

#include <cstdio>
#include <string>

#include "lx/video.h"
#include "status_report.h"
#include "video_names.h"

namespace lxsnap {

FrameLayout frameLayoutOf(const VideoSettings& video) {
  FrameLayout layout;
  layout.width = static_cast<uint32_t>(video.window.width);
  const uint32_t fieldLines = static_cast<uint32_t>(video.window.height) / 2;
  layout.lines = video.scan == LX_SCAN_MODE_FRAME ? 2 * fieldLines : fieldLines;
  layout.format = video.format;
  layout.bytesPerPixel = static_cast<uint32_t>(LxBytesPerPixel(video.format));
  return layout;
}

CardSession::~CardSession() {
  if (handle_ == nullptr) {
    return;
  }
  if (const LxStatus status = EndLxCard(handle_); status != LX_OK) {
    reportFailure("ending card " + std::to_string(cardIndex_), status);
  }
}

bool CardSession::open(int32_t cardIndex) {
  cardIndex_ = cardIndex;
  const LxStatus status = BeginLxCard(cardIndex, &handle_);
  if (status == LX_OK) {
    return true;
  }
  handle_ = nullptr;
  int32_t total = 0;
  if (LxGetCardTotal(&total) == LX_OK && total == 0) {
    reportNoCard();
  } else {
    reportFailure("opening card " + std::to_string(cardIndex) + " of " + std::to_string(total), status);
  }
  return false;
}

bool CardSession::apply(const VideoSettings& video) {
  auto refused = [](const std::string& what, LxStatus status) {
    reportFailure(what, status);
    return false;
  };
  if (video.input) {
    if (const LxStatus status = LxSetVideoSource(handle_, *video.input); status != LX_OK) {
      refused("selecting input " + inputName(*video.input), status);
      std::fprintf(stderr, "'lxsnap --list' shows the inputs card %d offers.\n", video.card);
      return false;
    }
  }
  if (video.standard) {
    if (const LxStatus status = LxSetVideoStandard(handle_, *video.standard); status != LX_OK) {
      return refused("setting the standard " + nameOf(standardNames(), *video.standard), status);
    }
  }
  if (const LxStatus status = LxSetVideoFormat(handle_, video.format); status != LX_OK) {
    return refused("setting the format " + nameOf(formatNames(), video.format), status);
  }
  if (const LxStatus status = LxSetScanMode(handle_, static_cast<uint32_t>(video.scan)); status != LX_OK) {
    return refused("setting the scan mode " + nameOf(scanNames(), video.scan), status);
  }
  const WindowGeometry& window = video.window;
  if (window.hasOrigin) {
    if (const LxStatus status = LxSetInputWindow(handle_, window.x, window.y, window.width, window.height);
        status != LX_OK) {
      return refused("cutting the window " + toString(window) + " from the picture", status);
    }
  }
  if (const LxStatus status = LxSetOutputWindow(handle_, 0, 0, window.width, window.height); status != LX_OK) {
    return refused("setting the window " + toString(window), status);
  }
  return true;
}

}  // namespace lxsnap

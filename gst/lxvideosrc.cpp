#include "lxvideosrc.h"

#include <gst/video/video.h>

#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>

#include "card_stream.h"
#include "frame_queue.h"
#include "video_settings.h"

GST_DEBUG_CATEGORY_STATIC(lx_video_src_debug);
#define GST_CAT_DEFAULT lx_video_src_debug

namespace {

// Frames waiting for the streaming thread; the card snaps 25 or 30 a second.
constexpr size_t kQueuedFrames = 4;
// A wait for a frame wakes this often to see whether it was unblocked.
constexpr auto kWaitSlice = std::chrono::milliseconds(100);
// No frame for this long: the input has no signal, or the card stopped.
constexpr auto kMostFrameWait = std::chrono::seconds(5);

enum Property { PROP_0, PROP_CARD, PROP_INPUT, PROP_STANDARD, PROP_FORMAT, PROP_WIDTH, PROP_HEIGHT };

struct SourceState {
  std::mutex settingsMutex;
  lxgst::VideoSettings settings;     // under settingsMutex
  lxgst::VideoSettings running;      // as started, read by the streaming thread
  lxgst::FrameQueue queue{kQueuedFrames};
  lxgst::CardStream card{queue};
  std::atomic<bool> unblocked{false};
  bool haveFirst = false;
  uint64_t firstTimestampNs = 0;
  GstClockTime firstRunningTime = 0;
};

}  // namespace

struct _LxVideoSrc {
  GstPushSrc parent;
  SourceState* state;
};

G_DEFINE_TYPE(LxVideoSrc, lx_video_src, GST_TYPE_PUSH_SRC)

namespace {

constexpr char kTemplateCaps[] =
    "video/x-raw, format = (string) { BGR, BGRx, RGB16, RGB15, YUY2, GRAY8 }, "
    "width = (int) [ 4, 768 ], height = (int) [ 2, 576 ], "
    "framerate = (fraction) { 25/1, 30000/1001 }";

GstStaticPadTemplate srcTemplate =
    GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS(kTemplateCaps));

SourceState& stateOf(gpointer object) { return *LX_VIDEO_SRC(object)->state; }

// The one caps the card's settings give: frame mode stores two fields of
// height / 2 lines, so an odd height loses its last line.
GstCaps* capsOf(const lxgst::VideoSettings& settings) {
  const lxgst::FrameRate rate = lxgst::frameRateOf(settings.standard);
  return gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, lxgst::rawFormatOf(settings.format), "width",
                             G_TYPE_INT, settings.width, "height", G_TYPE_INT, settings.height / 2 * 2, "framerate",
                             GST_TYPE_FRACTION, rate.numerator, rate.denominator, nullptr);
}

void setProperty(GObject* object, guint id, const GValue* value, GParamSpec* definition) {
  SourceState& state = stateOf(object);
  std::lock_guard lock(state.settingsMutex);
  lxgst::VideoSettings& settings = state.settings;
  switch (id) {
    case PROP_CARD: settings.card = g_value_get_int(value); break;
    case PROP_WIDTH: settings.width = g_value_get_int(value); break;
    case PROP_HEIGHT: settings.height = g_value_get_int(value); break;
    case PROP_INPUT: {
      const char* text = g_value_get_string(value);
      if (const auto input = lxgst::parseInput(text != nullptr ? text : "")) {
        settings.input = *input;
      } else {
        g_warning("lxvideosrc: '%s' is not an input (composite1..8, svideo1..8, ycbcr1..8); keeping %s",
                  text != nullptr ? text : "", lxgst::inputName(settings.input).c_str());
      }
      break;
    }
    case PROP_STANDARD: {
      const char* text = g_value_get_string(value);
      if (const auto standard = lxgst::parseStandard(text != nullptr ? text : "")) {
        settings.standard = *standard;
      } else {
        g_warning("lxvideosrc: '%s' is not a standard (pal, ntsc); keeping %s", text != nullptr ? text : "",
                  lxgst::standardName(settings.standard).c_str());
      }
      break;
    }
    case PROP_FORMAT: {
      const char* text = g_value_get_string(value);
      if (const auto format = lxgst::parseFormat(text != nullptr ? text : "")) {
        settings.format = *format;
      } else {
        g_warning("lxvideosrc: '%s' is not a format (yuv422, rgb888, rgb565, rgb555, rgb8888, grey, "
                  "grey-limited); keeping %s",
                  text != nullptr ? text : "", lxgst::formatName(settings.format).c_str());
      }
      break;
    }
    default: G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, definition); break;
  }
}

void getProperty(GObject* object, guint id, GValue* value, GParamSpec* definition) {
  SourceState& state = stateOf(object);
  std::lock_guard lock(state.settingsMutex);
  const lxgst::VideoSettings& settings = state.settings;
  switch (id) {
    case PROP_CARD: g_value_set_int(value, settings.card); break;
    case PROP_WIDTH: g_value_set_int(value, settings.width); break;
    case PROP_HEIGHT: g_value_set_int(value, settings.height); break;
    case PROP_INPUT: g_value_set_string(value, lxgst::inputName(settings.input).c_str()); break;
    case PROP_STANDARD: g_value_set_string(value, lxgst::standardName(settings.standard).c_str()); break;
    case PROP_FORMAT: g_value_set_string(value, lxgst::formatName(settings.format).c_str()); break;
    default: G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, definition); break;
  }
}

void finalize(GObject* object) {
  delete LX_VIDEO_SRC(object)->state;
  LX_VIDEO_SRC(object)->state = nullptr;
  G_OBJECT_CLASS(lx_video_src_parent_class)->finalize(object);
}

GstCaps* getCaps(GstBaseSrc* base, GstCaps* filter) {
  SourceState& state = stateOf(base);
  GstCaps* caps = nullptr;
  {
    std::lock_guard lock(state.settingsMutex);
    caps = capsOf(state.settings);
  }
  if (filter != nullptr) {
    GstCaps* both = gst_caps_intersect_full(filter, caps, GST_CAPS_INTERSECT_FIRST);
    gst_caps_unref(caps);
    caps = both;
  }
  return caps;
}

gboolean start(GstBaseSrc* base) {
  SourceState& state = stateOf(base);
  {
    std::lock_guard lock(state.settingsMutex);
    state.running = state.settings;
  }
  state.haveFirst = false;
  state.unblocked.store(false);
  state.queue.open();
  std::string what;
  if (!state.card.start(state.running, &what)) {
    GST_ELEMENT_ERROR(base, RESOURCE, OPEN_READ, ("Card %d cannot snap: %s", state.running.card, what.c_str()),
                      (nullptr));
    return FALSE;
  }
  GST_INFO_OBJECT(base, "card %d: %dx%d %s from %s into a ring of %u frames", state.running.card,
                  state.running.width, state.running.height, lxgst::formatName(state.running.format).c_str(),
                  lxgst::inputName(state.running.input).c_str(), state.card.ringFrames());
  return TRUE;
}

gboolean stop(GstBaseSrc* base) {
  SourceState& state = stateOf(base);
  state.queue.close();
  state.card.stop();
  return TRUE;
}

gboolean unlock(GstBaseSrc* base) {
  stateOf(base).unblocked.store(true);
  return TRUE;
}

gboolean unlockStop(GstBaseSrc* base) {
  stateOf(base).unblocked.store(false);
  return TRUE;
}

gboolean query(GstBaseSrc* base, GstQuery* query) {
  if (GST_QUERY_TYPE(query) == GST_QUERY_LATENCY) {
    SourceState& state = stateOf(base);
    // A frame is pushed once its last field has ended: one frame late.
    gst_query_set_latency(query, TRUE, lxgst::framePeriodNs(state.running.standard), GST_CLOCK_TIME_NONE);
    return TRUE;
  }
  return GST_BASE_SRC_CLASS(lx_video_src_parent_class)->query(base, query);
}

uint64_t monotonicNs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1'000'000'000u + static_cast<uint64_t>(now.tv_nsec);
}

// The running time at which the frame stamped `timestampNs` was complete:
// the pipeline clock now, less the time since the field end. 0 without a
// clock (not playing yet), so that the first frame starts the stream.
GstClockTime firstRunningTimeOf(GstElement* element, uint64_t timestampNs) {
  GstClock* clock = gst_element_get_clock(element);
  if (clock == nullptr) {
    return 0;
  }
  const GstClockTime now = gst_clock_get_time(clock);
  gst_object_unref(clock);
  const uint64_t since = monotonicNs() - std::min(monotonicNs(), timestampNs);
  const GstClockTime base = gst_element_get_base_time(element);
  const GstClockTime completed = now > since ? now - since : 0;
  return completed > base ? completed - base : 0;
}

void freeFrameBytes(gpointer bytes) { delete static_cast<std::vector<uint8_t>*>(bytes); }

GstFlowReturn create(GstPushSrc* push, GstBuffer** out) {
  SourceState& state = stateOf(push);
  lxgst::CapturedFrame frame;
  const auto deadline = std::chrono::steady_clock::now() + kMostFrameWait;
  for (;;) {
    if (state.unblocked.load()) {
      return GST_FLOW_FLUSHING;
    }
    const lxgst::PopResult result = state.queue.pop(&frame, kWaitSlice);
    if (result == lxgst::PopResult::Frame) {
      break;
    }
    if (result == lxgst::PopResult::Closed) {
      return GST_FLOW_FLUSHING;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      GST_ELEMENT_ERROR(push, RESOURCE, READ,
                        ("No frame from card %d in %lld s", state.running.card,
                         static_cast<long long>(kMostFrameWait.count())),
                        ("is there a signal on input %s?", lxgst::inputName(state.running.input).c_str()));
      return GST_FLOW_ERROR;
    }
  }
  if (frame.skipped > 0) {
    GST_ELEMENT_WARNING(push, RESOURCE, READ, ("%u frames skipped before frame %u", frame.skipped, frame.sequence),
                        ("the card completed them before the earlier frames were taken"));
  }
  if (!state.haveFirst) {
    state.haveFirst = true;
    state.firstTimestampNs = frame.timestampNs;
    state.firstRunningTime = firstRunningTimeOf(GST_ELEMENT(push), frame.timestampNs);
  }
  auto* bytes = new std::vector<uint8_t>(std::move(frame.bytes));
  GstBuffer* buffer =
      gst_buffer_new_wrapped_full(GST_MEMORY_FLAG_READONLY, bytes->data(), bytes->size(), 0, bytes->size(), bytes,
                                  freeFrameBytes);
  // Spaced by the card's field clock, from where the first frame fell in
  // the pipeline's running time. The card's clock never runs back.
  GST_BUFFER_PTS(buffer) =
      state.firstRunningTime +
      (frame.timestampNs >= state.firstTimestampNs ? frame.timestampNs - state.firstTimestampNs : 0);
  GST_BUFFER_DTS(buffer) = GST_CLOCK_TIME_NONE;
  GST_BUFFER_DURATION(buffer) = lxgst::framePeriodNs(state.running.standard);
  GST_BUFFER_OFFSET(buffer) = frame.sequence;
  GST_BUFFER_OFFSET_END(buffer) = uint64_t{frame.sequence} + 1;
  if (frame.skipped > 0) {
    GST_BUFFER_FLAG_SET(buffer, GST_BUFFER_FLAG_DISCONT);
  }
  *out = buffer;
  return GST_FLOW_OK;
}

}  // namespace

static void lx_video_src_class_init(LxVideoSrcClass* klass) {
  GObjectClass* objectClass = G_OBJECT_CLASS(klass);
  GstElementClass* elementClass = GST_ELEMENT_CLASS(klass);
  GstBaseSrcClass* baseClass = GST_BASE_SRC_CLASS(klass);
  GstPushSrcClass* pushClass = GST_PUSH_SRC_CLASS(klass);

  objectClass->set_property = setProperty;
  objectClass->get_property = getProperty;
  objectClass->finalize = finalize;

  const auto flags = static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS |
                                              GST_PARAM_MUTABLE_READY);
  const lxgst::VideoSettings defaults;
  g_object_class_install_property(
      objectClass, PROP_CARD,
      g_param_spec_int("card", "Card", "Global number of the card", 1, 128, defaults.card, flags));
  g_object_class_install_property(
      objectClass, PROP_INPUT,
      g_param_spec_string("input", "Input", "Video input: composite1..8, svideo1..8, ycbcr1..8",
                          lxgst::inputName(defaults.input).c_str(), flags));
  g_object_class_install_property(objectClass, PROP_STANDARD,
                                  g_param_spec_string("standard", "Standard", "Video standard: pal, ntsc",
                                                      lxgst::standardName(defaults.standard).c_str(), flags));
  g_object_class_install_property(
      objectClass, PROP_FORMAT,
      g_param_spec_string("format", "Format",
                          "Pixel format the card stores: yuv422, rgb888, rgb565, rgb555, rgb8888, grey, grey-limited",
                          lxgst::formatName(defaults.format).c_str(), flags));
  g_object_class_install_property(
      objectClass, PROP_WIDTH,
      g_param_spec_int("width", "Width", "Pixels a line", 4, 768, defaults.width, flags));
  g_object_class_install_property(
      objectClass, PROP_HEIGHT,
      g_param_spec_int("height", "Height", "Lines a frame (two fields)", 2, 576, defaults.height, flags));

  gst_element_class_set_static_metadata(elementClass, "Lx video source", "Source/Video",
                                        "Live frames of an Lx capture card", "Lx capture stack");
  gst_element_class_add_static_pad_template(elementClass, &srcTemplate);

  baseClass->get_caps = getCaps;
  baseClass->start = start;
  baseClass->stop = stop;
  baseClass->unlock = unlock;
  baseClass->unlock_stop = unlockStop;
  baseClass->query = query;
  pushClass->create = create;

  GST_DEBUG_CATEGORY_INIT(lx_video_src_debug, "lxvideosrc", 0, "Lx capture card source");
}

static void lx_video_src_init(LxVideoSrc* self) {
  self->state = new SourceState;
  gst_base_src_set_live(GST_BASE_SRC(self), TRUE);
  gst_base_src_set_format(GST_BASE_SRC(self), GST_FORMAT_TIME);
}

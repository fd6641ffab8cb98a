// lxvideosrc: a live GStreamer source of the frames a card snaps into the
// static memory, through the public video API and the snap-ex library.
#pragma once

#include <gst/base/gstpushsrc.h>

G_BEGIN_DECLS

#define LX_TYPE_VIDEO_SRC (lx_video_src_get_type())
G_DECLARE_FINAL_TYPE(LxVideoSrc, lx_video_src, LX, VIDEO_SRC, GstPushSrc)

G_END_DECLS

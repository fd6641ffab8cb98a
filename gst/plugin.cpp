// The plugin that carries lxvideosrc.
#include <gst/gst.h>

#include "lxvideosrc.h"

#ifndef PACKAGE
#define PACKAGE "lxvideo"
#endif

static gboolean pluginInit(GstPlugin* plugin) {
  return gst_element_register(plugin, "lxvideosrc", GST_RANK_NONE, LX_TYPE_VIDEO_SRC);
}

GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, lxvideo, "Lx capture card elements", pluginInit, "1.0.0",
                  "Proprietary", "Lx capture stack", "Lx capture stack")

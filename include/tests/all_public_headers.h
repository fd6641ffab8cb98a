// Every installed header of the API, for the checks that compile them from
// C11 and from C++11.
#include <lx/board_info.h>
#include <lx/card_type.h>
#include <lx/data_transform.h>
#include <lx/devmm.h>
#include <lx/export.h>
#include <lx/portable.h>
#include <lx/snap_ex.h>
#include <lx/static_mem_records.h>
#include <lx/status.h>
#include <lx/video.h>
#include <lx/video_capture.h>
#include <lx/video_card.h>
#include <lx/video_types.h>

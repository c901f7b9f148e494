// Everything a C++ program needs to read, write, repair, crop and convert VID clips: include
// this one header and link VidClip::vidcore (CMake) or `pkg-config vidclip`.
//
//   VidHeader reader("clip.vid", nullptr);          // open; reader.isOpen()
//   reader.readFrameFromVideoFile(0);               // frame 0 into reader.pixmap (RGB)
//   VidError e = reader.lastError();                // what went wrong, as data
//
// The layers beneath, from the bottom: the format and its kinds, the block codec and compact
// records, the record unit, the demosaic, the clip block, VidHeader, reading and following,
// and the jobs (repair, crop, convert).
#pragma once

#include "vid_version.h"
#include "vid_result.h"
#include "vid_output_file.h"
#include "vid_format.h"
#include "vid_kind.h"
#include "compress_uncompress_MT.h"
#include "vid_compact.h"
#include "vid_record.h"
#include "bayer.h"
#include "bayer16.h"
#include "bayer_interpolate_MT.h"
#include "vid_sensor.h"
#include "vid_render.h"
#include "read-frame.h"
#include "vid_clip.h"
#include "VidHeader.h"
#include "vid_records.h"
#include "vid_read.h"
#include "vid_follow.h"
#include "vid_salvage.h"
#include "vid_crop.h"
#include "vid_convert.h"
#include "vid_meta.h"

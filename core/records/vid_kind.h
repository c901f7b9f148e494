// The kinds of frames a VID file holds, by one vocabulary: the header's flags, the names every
// interface takes and gives ("rgb", "bayer8", "bayer16", "mono8", "mono16"), and where a Bayer
// sample's colour lies. Thread-safe.
#pragma once

#include "vid_format.h"

// The kind of frames a header's flags describe.
VidKind vid_kind_of(bool bayer, bool two_bytes);
// The colour of a Bayer file's sample at (x, y), as the demosaic reads it: 'R', 'G' or 'B'
// (two-byte samples: green-red over blue-green rows when the width is exactly 1600, blue-green
// over green-red otherwise; one-byte samples: green-red over blue-green); 0 for RGB files.
char vid_bayer_site(VidKind kind, int width, int x, int y);
// "rgb", "bayer8", "bayer16", "mono8", "mono16"; null for none.
const char* vid_kind_name(VidKind kind);
// The kind a name gives (one of vid_kind_name's); false for any other name, which every
// interface refuses.
bool vid_kind_parse(const char* name, VidKind& kind);
// "RGB", "Bayer one-byte", "Bayer two-byte", "mono one-byte", "mono two-byte"; "none".
const char* vid_kind_text(VidKind kind);
// The kind the file's header keeps: mono kinds as the Bayer kind of their sample width.
VidKind vid_kind_stored(VidKind kind);
// True for mono8 and mono16.
bool vid_kind_is_mono(VidKind kind);
// True for the kinds stored as samples (Bayer and mono), false for RGB and none.
bool vid_kind_has_samples(VidKind kind);
// Bytes per stored sample of a sample kind: 1 or 2 (1 for RGB's channels).
int vid_kind_sample_bytes(VidKind kind);

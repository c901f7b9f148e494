// The kinds of frames; see vid_kind.h.
#include "vid_kind.h"

#include <cstring>
#include <initializer_list>

char vid_bayer_site(VidKind kind, int width, int x, int y)
{
    if (kind != VidKind::bayer8 && kind != VidKind::bayer16)
        return 0;
    const bool green_red_first = kind == VidKind::bayer8 || width == 1600;
    const bool first_row = y % 2 == 0;
    if (first_row == green_red_first)
        return x % 2 == 0 ? 'G' : 'R';
    return x % 2 == 0 ? 'B' : 'G';
}

VidKind vid_kind_of(bool bayer, bool two_bytes)
{
    return !bayer ? VidKind::rgb : two_bytes ? VidKind::bayer16 : VidKind::bayer8;
}

const char* vid_kind_name(VidKind kind)
{
    switch (kind) {
    case VidKind::rgb:
        return "rgb";
    case VidKind::bayer8:
        return "bayer8";
    case VidKind::bayer16:
        return "bayer16";
    case VidKind::mono8:
        return "mono8";
    case VidKind::mono16:
        return "mono16";
    case VidKind::none:
        break;
    }
    return nullptr;
}

bool vid_kind_parse(const char* name, VidKind& kind)
{
    for (VidKind k :
         {VidKind::rgb, VidKind::bayer8, VidKind::bayer16, VidKind::mono8, VidKind::mono16})
        if (name != nullptr && strcmp(name, vid_kind_name(k)) == 0) {
            kind = k;
            return true;
        }
    return false;
}

const char* vid_kind_text(VidKind kind)
{
    switch (kind) {
    case VidKind::rgb:
        return "RGB";
    case VidKind::bayer8:
        return "Bayer one-byte";
    case VidKind::bayer16:
        return "Bayer two-byte";
    case VidKind::mono8:
        return "mono one-byte";
    case VidKind::mono16:
        return "mono two-byte";
    case VidKind::none:
        break;
    }
    return "none";
}

VidKind vid_kind_stored(VidKind kind)
{
    return kind == VidKind::mono8    ? VidKind::bayer8
           : kind == VidKind::mono16 ? VidKind::bayer16
                                     : kind;
}

bool vid_kind_is_mono(VidKind kind)
{
    return kind == VidKind::mono8 || kind == VidKind::mono16;
}

bool vid_kind_has_samples(VidKind kind)
{
    return kind != VidKind::rgb && kind != VidKind::none;
}

int vid_kind_sample_bytes(VidKind kind)
{
    return kind == VidKind::bayer16 || kind == VidKind::mono16 ? 2 : 1;
}

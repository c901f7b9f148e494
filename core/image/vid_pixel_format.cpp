// Camera pixel formats as clip frames (vid_pixel_format.h).
#include "vid_pixel_format.h"

#include <cctype>
#include <cstring>

namespace {

const VidPixelFormat kFormats[] = {
    {"Mono8", VidKind::mono8, VidCfa::none, 8, VidPacking::none},
    {"Mono10", VidKind::mono16, VidCfa::none, 10, VidPacking::none},
    {"Mono12", VidKind::mono16, VidCfa::none, 12, VidPacking::none},
    {"Mono14", VidKind::mono16, VidCfa::none, 14, VidPacking::none},
    {"Mono16", VidKind::mono16, VidCfa::none, 16, VidPacking::none},
    {"Mono10p", VidKind::mono16, VidCfa::none, 10, VidPacking::p10},
    {"Mono12p", VidKind::mono16, VidCfa::none, 12, VidPacking::p12},
    {"Mono10Packed", VidKind::mono16, VidCfa::none, 10, VidPacking::packed10},
    {"Mono12Packed", VidKind::mono16, VidCfa::none, 12, VidPacking::packed12},
    {"RGB8", VidKind::rgb, VidCfa::none, 8, VidPacking::none},
    {"RGB8Packed", VidKind::rgb, VidCfa::none, 8, VidPacking::none},
};

const struct {
    const char* code;
    VidCfa cfa;
} kPatterns[] = {
    {"RG", VidCfa::rggb}, {"GR", VidCfa::grbg}, {"GB", VidCfa::gbrg}, {"BG", VidCfa::bggr}};

const struct {
    const char* suffix;
    int bits;
    VidPacking packing;
} kBayerDepths[] = {{"8", 8, VidPacking::none},
                    {"10", 10, VidPacking::none},
                    {"12", 12, VidPacking::none},
                    {"14", 14, VidPacking::none},
                    {"16", 16, VidPacking::none},
                    {"10p", 10, VidPacking::p10},
                    {"12p", 12, VidPacking::p12},
                    {"10Packed", 10, VidPacking::packed10},
                    {"12Packed", 12, VidPacking::packed12}};

bool same_name(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); i++)
        if (std::tolower((unsigned char)a[i]) != std::tolower((unsigned char)b[i]))
            return false;
    return true;
}

// Every Bayer name, made once.
struct BayerNames {
    std::string name[4][sizeof kBayerDepths / sizeof kBayerDepths[0]];
    BayerNames()
    {
        for (int p = 0; p < 4; p++)
            for (size_t d = 0; d < sizeof kBayerDepths / sizeof kBayerDepths[0]; d++)
                name[p][d] = std::string("Bayer") + kPatterns[p].code + kBayerDepths[d].suffix;
    }
};

const BayerNames& bayer_names()
{
    static const BayerNames names;
    return names;
}

} // namespace

bool vid_pixel_format_find(const std::string& name, VidPixelFormat& out)
{
    for (const VidPixelFormat& f : kFormats)
        if (same_name(name, f.name)) {
            out = f;
            return true;
        }
    const BayerNames& names = bayer_names();
    for (int p = 0; p < 4; p++)
        for (size_t d = 0; d < sizeof kBayerDepths / sizeof kBayerDepths[0]; d++)
            if (same_name(name, names.name[p][d])) {
                out.name = names.name[p][d].c_str();
                out.kind = kBayerDepths[d].bits == 8 ? VidKind::bayer8 : VidKind::bayer16;
                out.cfa = kPatterns[p].cfa;
                out.bits = kBayerDepths[d].bits;
                out.packing = kBayerDepths[d].packing;
                return true;
            }
    return false;
}

std::string vid_pixel_format_names()
{
    std::string s;
    for (const VidPixelFormat& f : kFormats)
        s += std::string(s.empty() ? "" : ", ") + f.name;
    for (const auto& d : kBayerDepths)
        s += std::string(", Bayer(RG|GR|GB|BG)") + d.suffix;
    return s;
}

size_t vid_pixel_format_row_bytes(const VidPixelFormat& f, int width)
{
    const size_t w = size_t(width);
    switch (f.packing) {
    case VidPacking::p10:
        return (w * 10 + 7) / 8;
    case VidPacking::p12:
        return (w * 12 + 7) / 8;
    case VidPacking::packed10:
    case VidPacking::packed12:
        return (w + 1) / 2 * 3;
    case VidPacking::none:
    default:
        return vid_pixel_format_stored_row_bytes(f, width);
    }
}

size_t vid_pixel_format_stored_row_bytes(const VidPixelFormat& f, int width)
{
    return size_t(width) * (f.kind == VidKind::rgb ? 3 : f.bits > 8 ? 2 : 1);
}

void vid_pixel_format_convert(const VidPixelFormat& f, int width, int rows, const unsigned char* in,
                              size_t in_stride, unsigned char* out)
{
    const size_t out_row = vid_pixel_format_stored_row_bytes(f, width);
    for (int y = 0; y < rows; y++, in += in_stride, out += out_row) {
        if (f.packing == VidPacking::none) {
            memcpy(out, in, out_row);
            continue;
        }
        unsigned char* o = out;
        auto put = [&o](uint32_t v) {
            o[0] = uint8_t(v);
            o[1] = uint8_t(v >> 8);
            o += 2;
        };
        int x = 0;
        const unsigned char* p = in;
        switch (f.packing) {
        case VidPacking::p12:
            for (; x + 2 <= width; x += 2, p += 3) {
                put(uint32_t(p[0]) | uint32_t(p[1] & 0x0F) << 8);
                put(uint32_t(p[1]) >> 4 | uint32_t(p[2]) << 4);
            }
            if (x < width)
                put(uint32_t(p[0]) | uint32_t(p[1] & 0x0F) << 8);
            break;
        case VidPacking::p10:
            for (; x + 4 <= width; x += 4, p += 5) {
                const uint64_t v = uint64_t(p[0]) | uint64_t(p[1]) << 8 | uint64_t(p[2]) << 16 |
                                   uint64_t(p[3]) << 24 | uint64_t(p[4]) << 32;
                for (int k = 0; k < 4; k++)
                    put(uint32_t(v >> (10 * k)) & 0x3FF);
            }
            if (x < width) {
                // the row's last one to three samples in its last bytes
                const size_t left = (size_t(width - x) * 10 + 7) / 8;
                uint64_t v = 0;
                for (size_t k = 0; k < left; k++)
                    v |= uint64_t(p[k]) << (8 * k);
                for (int k = 0; x < width; x++, k++)
                    put(uint32_t(v >> (10 * k)) & 0x3FF);
            }
            break;
        case VidPacking::packed12:
        case VidPacking::packed10: {
            const int low = f.packing == VidPacking::packed12 ? 4 : 2;
            const uint32_t mask = (1u << low) - 1;
            for (; x + 2 <= width; x += 2, p += 3) {
                put(uint32_t(p[0]) << low | (p[1] & mask));
                put(uint32_t(p[2]) << low | ((p[1] >> 4) & mask));
            }
            if (x < width)
                put(uint32_t(p[0]) << low | (p[1] & mask));
            break;
        }
        case VidPacking::none:
            break;
        }
    }
}

// SER files (vid_ser.h).
#include "vid_ser.h"

#include <cerrno>
#include <cstring>

#include "le_bytes.h"
#include "vid_clip.h"
#include "vid_files.h"
#include "vid_kind.h"
#include "vid_output_file.h"

namespace {

const char kFileId[] = "LUCAM-RECORDER";

struct ColorOf {
    int id;
    VidCfa cfa;
};
const ColorOf kBayer[] = {
    {8, VidCfa::rggb}, {9, VidCfa::grbg}, {10, VidCfa::gbrg}, {11, VidCfa::bggr}};

std::string text_field(const unsigned char* p, size_t n)
{
    std::string s(reinterpret_cast<const char*>(p), n);
    const size_t end = s.find('\0');
    if (end != std::string::npos)
        s.resize(end);
    while (!s.empty() && s.back() == ' ')
        s.pop_back();
    for (char& c : s)
        if ((unsigned char)c < 0x20 || (unsigned char)c > 0x7E)
            c = '?';
    return s;
}

int64_t ns_of_ticks(int64_t t)
{
    if (t <= kVidSerUnixEpochTicks || t > kVidSerUnixEpochTicks + INT64_MAX / 100)
        return kVidNoTimestamp; // before 1970 or unknown (0)
    return (t - kVidSerUnixEpochTicks) * 100;
}

int64_t ticks_of_ns(int64_t ns)
{
    return ns == kVidNoTimestamp || ns < 0 ? 0 : kVidSerUnixEpochTicks + ns / 100;
}

} // namespace

bool vid_is_ser(const unsigned char* head, size_t n)
{
    return n >= 14 && memcmp(head, kFileId, 14) == 0;
}

bool vid_ser_open(const std::string& path, FILE*& f, VidSerInfo& info, VidError& error)
{
    info = VidSerInfo();
    f = nullptr;
    VidPathKind path_kind;
    FILE* in = vid_fopen_regular(path.c_str(), path_kind);
    if (in == nullptr) {
        error = vid_error(vid_result_of_errno(errno, VidResult::read_failed), path, "", errno);
        return false;
    }
    auto refuse = [&](const std::string& why) {
        fclose(in);
        error =
            vid_error(VidResult::bad_argument, path, "not a SER file this system reads: " + why);
        return false;
    };
    int64_t size = -1;
    if (vid_fseek(in, 0, SEEK_END) == 0)
        size = vid_ftell(in);
    unsigned char h[kVidSerHeaderBytes];
    if (size < kVidSerHeaderBytes || vid_fseek(in, 0, SEEK_SET) != 0 ||
        fread(h, 1, sizeof h, in) != sizeof h)
        return refuse("shorter than its 178-byte header");
    if (!vid_is_ser(h, sizeof h))
        return refuse("it does not begin with LUCAM-RECORDER");
    info.color_id = int(get_le32(h + 18));
    const int32_t endian = int32_t(get_le32(h + 22));
    const int32_t w = int32_t(get_le32(h + 26)), hgt = int32_t(get_le32(h + 30));
    const int32_t depth = int32_t(get_le32(h + 34)), count = int32_t(get_le32(h + 38));
    info.observer = text_field(h + 42, 40);
    info.instrument = text_field(h + 82, 40);
    info.telescope = text_field(h + 122, 40);
    info.date_utc_ticks = int64_t(get_le64(h + 170));
    // As the capture programs write it and Siril reads it: 0 little-endian samples, 1
    // big-endian (the format's documentation, and ffmpeg's reader, say the opposite).
    info.little_endian = endian == 0;
    if (w < 1 || hgt < 1 || w > 65535 || hgt > 65535)
        return refuse("a frame of " + std::to_string(w) + " x " + std::to_string(hgt) + " pixels");
    if (depth < 1 || depth > 16)
        return refuse("a depth of " + std::to_string(depth) + " bits");
    if (count < 1)
        return refuse(count == 0 ? std::string("it holds no frames")
                                 : "a frame count of " + std::to_string(count));
    info.width = w;
    info.height = hgt;
    info.depth = depth;
    const bool two = depth > 8;
    bool bayer = false;
    for (const ColorOf& c : kBayer)
        if (c.id == info.color_id) {
            info.cfa = c.cfa;
            bayer = true;
        }
    int planes = 1;
    if (info.color_id == 0) {
        info.kind = two ? VidKind::mono16 : VidKind::mono8;
    } else if (bayer) {
        info.kind = two ? VidKind::bayer16 : VidKind::bayer8;
    } else if (info.color_id == 100 || info.color_id == 101) {
        if (two)
            return refuse("RGB of " + std::to_string(depth) +
                          " bits (clips hold 8-bit RGB; mono and Bayer frames up to 16 bits)");
        info.kind = VidKind::rgb;
        planes = 3;
    } else {
        return refuse("colour id " + std::to_string(info.color_id) +
                      " (clips hold mono 0, Bayer 8 to 11, RGB 100 and BGR 101)");
    }
    const uint64_t frame_bytes = uint64_t(w) * uint64_t(hgt) * uint64_t(planes) * (two ? 2 : 1);
    if (frame_bytes > uint64_t(INT32_MAX))
        return refuse("frames of " + std::to_string(frame_bytes) + " bytes");
    info.frame_bytes = size_t(frame_bytes);
    const int64_t body = size - kVidSerHeaderBytes;
    if (uint64_t(count) > uint64_t(body) / frame_bytes)
        return refuse("its header counts " + std::to_string(count) + " frames of " +
                      std::to_string(frame_bytes) + " bytes, but the file holds " +
                      std::to_string(uint64_t(body) / frame_bytes) + " whole frames");
    info.frames = count;
    // The trailer: one time a frame right behind them, when the file has room for it.
    const int64_t trailer_at = kVidSerHeaderBytes + int64_t(frame_bytes) * count;
    if (count > 0 && size > trailer_at && size - trailer_at < 8 * int64_t(count))
        return refuse("its trailer of times ends early (" + std::to_string(size - trailer_at) +
                      " of " + std::to_string(8 * int64_t(count)) + " bytes)");
    if (count > 0 && size - trailer_at >= 8 * int64_t(count)) {
        std::vector<unsigned char> t(size_t(8 * count));
        if (vid_fseek(in, trailer_at, SEEK_SET) != 0 ||
            fread(t.data(), 1, t.size(), in) != t.size())
            return refuse("its trailer of times cannot be read");
        info.timestamps_ns.resize(size_t(count));
        bool any = false;
        for (int64_t k = 0; k < count; k++) {
            info.timestamps_ns[size_t(k)] = ns_of_ticks(int64_t(get_le64(&t[size_t(8 * k)])));
            any = any || info.timestamps_ns[size_t(k)] != kVidNoTimestamp;
        }
        if (!any)
            info.timestamps_ns.clear();
    }
    f = in;
    return true;
}

bool vid_ser_read_frame(FILE* f, const VidSerInfo& info, int64_t k, unsigned char* out,
                        VidError& error, const std::string& path)
{
    if (k < 0 || k >= info.frames) {
        error = vid_error(VidResult::frame_out_of_range, path, "", 0, int(k));
        return false;
    }
    if (vid_fseek(f, kVidSerHeaderBytes + int64_t(info.frame_bytes) * k, SEEK_SET) != 0 ||
        fread(out, 1, info.frame_bytes, f) != info.frame_bytes) {
        error = vid_error(VidResult::read_failed, path, "the frame cannot be read", errno, int(k));
        return false;
    }
    if (info.depth > 8 && !info.little_endian)
        for (size_t i = 0; i + 1 < info.frame_bytes; i += 2)
            std::swap(out[i], out[i + 1]);
    if (info.color_id == 101)
        for (size_t i = 0; i + 2 < info.frame_bytes; i += 3)
            std::swap(out[i], out[i + 2]);
    return true;
}

struct VidSerWriter::Out {
    VidOutputFile file;
};

VidSerWriter::VidSerWriter() : out_(new Out) {}

VidSerWriter::~VidSerWriter()
{
    delete out_;
}

bool VidSerWriter::open(const std::string& path, int width, int height, VidKind kind, VidCfa cfa,
                        int depth, int64_t frames, int64_t start_ns, VidError& error)
{
    path_ = path;
    const bool two = vid_kind_has_samples(kind) && vid_kind_sample_bytes(kind) == 2;
    int color = 0;
    if (kind == VidKind::rgb) {
        color = 100;
    } else if (kind == VidKind::bayer8 || kind == VidKind::bayer16) {
        for (const ColorOf& c : kBayer)
            if (c.cfa == cfa)
                color = c.id;
    }
    if (kind == VidKind::none || width < 1 || height < 1 || frames < 0 || frames > INT32_MAX) {
        error = vid_error(VidResult::bad_argument, path, "no frames a SER file holds");
        return false;
    }
    if (depth < 1 || depth > (two ? 16 : 8))
        depth = two ? 16 : 8;
    if (two && depth <= 8)
        depth = 16;
    rgb_ = kind == VidKind::rgb;
    frame_bytes_ = size_t(width) * size_t(height) * (rgb_ ? 3 : two ? 2 : 1);
    frames_ = frames;
    std::string why;
    if (!out_->file.open(path, why)) {
        error = vid_error(vid_result_of_errno(out_->file.error_number(), VidResult::write_failed),
                          path, why, out_->file.error_number());
        return false;
    }
    unsigned char h[kVidSerHeaderBytes] = {0};
    memcpy(h, kFileId, 14);
    put_le32(h + 14, 0);
    put_le32(h + 18, uint32_t(color));
    put_le32(h + 22, 0); // little-endian samples, as the capture programs and Siril say it
    put_le32(h + 26, uint32_t(width));
    put_le32(h + 30, uint32_t(height));
    put_le32(h + 34, uint32_t(depth));
    put_le32(h + 38, uint32_t(frames));
    const int64_t ticks = ticks_of_ns(start_ns > 0 ? start_ns : kVidNoTimestamp);
    put_le64(h + 162, uint64_t(ticks));
    put_le64(h + 170, uint64_t(ticks));
    if (fwrite(h, 1, sizeof h, out_->file.stream()) != sizeof h) {
        error = vid_error(VidResult::write_failed, path, "", errno);
        out_->file.abandon();
        return false;
    }
    ticks_.reserve(size_t(frames));
    return true;
}

bool VidSerWriter::write(const unsigned char* frame, int64_t timestamp_ns, VidError& error)
{
    if (written_ >= frames_) {
        error = vid_error(VidResult::frame_out_of_range, path_, "more frames than announced");
        return false;
    }
    if (fwrite(frame, 1, frame_bytes_, out_->file.stream()) != frame_bytes_) {
        error = vid_error(VidResult::write_failed, path_, "", errno, int(written_));
        out_->file.abandon();
        return false;
    }
    ticks_.push_back(ticks_of_ns(timestamp_ns));
    any_time_ = any_time_ || timestamp_ns != kVidNoTimestamp;
    written_++;
    return true;
}

bool VidSerWriter::finish(VidError& error)
{
    if (written_ != frames_) {
        error = vid_error(VidResult::bad_argument, path_,
                          std::to_string(written_) + " frames written of " +
                              std::to_string(frames_) + " announced");
        out_->file.abandon();
        return false;
    }
    bool ok = true;
    if (any_time_)
        for (size_t k = 0; ok && k < ticks_.size(); k++) {
            unsigned char t[8];
            put_le64(t, uint64_t(ticks_[k]));
            ok = fwrite(t, 1, 8, out_->file.stream()) == 8;
        }
    std::string why;
    if (!ok || !out_->file.commit(why)) {
        error = vid_error(VidResult::write_failed, path_, why, errno);
        out_->file.abandon();
        return false;
    }
    return true;
}

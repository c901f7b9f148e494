// Recording Aravis's in-process fake camera in every pixel format a clip takes: each frame's
// samples (the fill callback writes the frame id into them), kind, pattern and timestamps.
// (Apart from test_vid_record.cpp: Aravis's threads are not built for the thread sanitizer.)
#include <gtest/gtest.h>
#include <arv.h>

#include <cstdio>
#include <vector>

#include "VidHeader.h"
#include "vid_camera.h"
#include "vid_clip.h"
#include "vid_test_files.h"

namespace {

using vidtest::TempDir;

VidClip clip_of(FILE* f, int64_t frames)
{
    fseek(f, 0, SEEK_END);
    return vid_read_clip(f, int64_t(ftell(f)), frames);
}
// The in-process fake camera's frames carry their id in every sample (fill callback).
struct FakeFill {
    int bytes_per_sample = 1;
};

void fill_with_id(ArvBuffer* b, void* data, guint32, guint32, ArvPixelFormat)
{
    FakeFill& fill = *static_cast<FakeFill*>(data);
    size_t size = 0;
    unsigned char* p =
        static_cast<unsigned char*>(const_cast<void*>(arv_buffer_get_data(b, &size)));
    const size_t n = size_t(arv_buffer_get_image_width(b)) * size_t(arv_buffer_get_image_height(b));
    const uint64_t id = arv_buffer_get_frame_id(b);
    for (size_t i = 0; i < n; i++) {
        const uint32_t v = uint32_t(id * 7 + i);
        p[i * size_t(fill.bytes_per_sample)] = uint8_t(v);
        if (fill.bytes_per_sample == 2)
            p[2 * i + 1] = uint8_t(v >> 8);
    }
}

// A source that notes each frame the camera hands over.
class Noting : public VidFrameSource {
  public:
    explicit Noting(VidCamera& c) : c_(c) {}
    bool start(std::string& e) override { return c_.start(e); }
    bool next(VidSourceFrame& f, int t) override
    {
        if (!c_.next(f, t))
            return false;
        if (f.complete)
            seen.emplace_back(f.frame_id, f.timestamp_ns);
        return true;
    }
    void release(VidSourceFrame& f) override { c_.release(f); }
    void stop() override { c_.stop(); }
    uint64_t underruns() override { return c_.underruns(); }
    int buffers() const override { return c_.buffers(); }
    uint64_t id_wrap() const override { return c_.id_wrap(); }
    std::vector<std::pair<uint64_t, int64_t>> seen;

  private:
    VidCamera& c_;
};

TEST(VidCameraFake, EveryPixelFormatRecordsExactFramesWithTheirTimes)
{
    const struct {
        const char* format;
        VidKind kind;
        const char* cfa;
    } cases[] = {{"Mono8", VidKind::bayer8, "none"},    {"Mono16", VidKind::bayer16, "none"},
                 {"BayerRG8", VidKind::bayer8, "RGGB"}, {"BayerGR8", VidKind::bayer8, "GRBG"},
                 {"BayerGB8", VidKind::bayer8, "GBRG"}, {"BayerBG8", VidKind::bayer8, "BGGR"}};
    for (const auto& c : cases) {
        TempDir dir;
        VidCameraSettings s;
        s.id = "Fake_1";
        s.pixel_format = c.format;
        s.width = 64;
        s.height = 48;
        s.frame_rate = 500;
        FakeFill fill;
        fill.bytes_per_sample = c.kind == VidKind::bayer16 ? 2 : 1;
        ArvFakeCamera* fake = nullptr;
        s.prepare = [&](void* arv_camera) {
            fake = arv_fake_device_get_fake_camera(
                ARV_FAKE_DEVICE(arv_camera_get_device(static_cast<ArvCamera*>(arv_camera))));
            arv_fake_camera_set_fill_pattern(fake, fill_with_id, &fill);
        };
        std::string why;
        std::unique_ptr<VidCamera> camera = VidCamera::open(s, why);
        ASSERT_TRUE(camera) << why;
        VidRecordOptions o;
        o.path = dir.file("fake.vid");
        o.format = camera->format();
        o.width = camera->width();
        o.height = camera->height();
        o.frame_rate = camera->frame_rate();
        o.metadata = camera->metadata();
        o.frames = 200;
        Noting noting(*camera);
        VidRecordSummary summary;
        VidError error;
        ASSERT_TRUE(vid_record(noting, o, summary, error)) << vid_error_message(error);
        arv_fake_camera_set_fill_pattern(fake, nullptr, nullptr);
        ASSERT_EQ(summary.status.frames, 200) << c.format;

        VidHeader v(o.path.c_str(), nullptr);
        ASSERT_TRUE(v.isOpen());
        EXPECT_EQ(v.vid_is_bayer_interpolated, 1) << c.format;
        EXPECT_EQ(v.vid_uses_two_bytes_per_pixel, c.kind == VidKind::bayer16 ? 1 : 0);
        VidClip clip = clip_of(v.videoFile, v.num_frames);
        EXPECT_NE(clip.metadata.find(std::string("\"cfa\":\"") + c.cfa + "\""), std::string::npos)
            << clip.metadata;
        std::vector<int64_t> stamps;
        ASSERT_TRUE(vid_read_timestamps(v.videoFile, clip, v.num_frames, stamps));
        const size_t n = size_t(v.width) * size_t(v.height);
        for (int k = 0; k < v.num_frames; k++) {
            // the frames written are the complete frames handed over, in order, with their
            // buffers' timestamps
            ASSERT_EQ(stamps[size_t(k)], noting.seen[size_t(k)].second) << c.format << " " << k;
            if (k > 0) {
                EXPECT_GT(stamps[size_t(k)], stamps[size_t(k) - 1]);
            }
            ASSERT_TRUE(v.readSamplesFromVideoFile(k));
            const uint64_t id = noting.seen[size_t(k)].first;
            const unsigned char* p = v.uncompressed_buffer;
            for (size_t i = 0; i < n; i += 97) {
                const uint32_t want =
                    uint32_t(id * 7 + i) & (fill.bytes_per_sample == 2 ? 0xFFFF : 0xFF);
                const uint32_t got =
                    fill.bytes_per_sample == 2 ? uint32_t(p[2 * i] | p[2 * i + 1] << 8) : p[i];
                ASSERT_EQ(got, want) << c.format << " frame " << k << " sample " << i;
            }
        }
    }
}

} // namespace

// The Windows build of vid (no PNG), run as a real process under the Windows command
// interpreter: info, export and import of raw streams and PPM images, verify and repair.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "VidHeader.h"
#include "vid_test_files.h"

using vidtest::Bytes;

namespace {

// vid.exe beside this test program.
std::string vid_exe()
{
    char self[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string path(self, n);
    return path.substr(0, path.find_last_of("\\/") + 1) + "vid.exe";
}

int vid(const std::string& args)
{
    std::string line = "\"\"" + vid_exe() + "\" " + args + " > nul 2>&1\"";
    return system(line.c_str());
}

std::vector<Bytes> frames_of(const std::string& path)
{
    std::vector<Bytes> out;
    VidHeader r(path.c_str(), nullptr);
    for (int k = 0; r.isOpen() && k < r.num_frames; k++) {
        EXPECT_TRUE(r.readFrameFromVideoFile(k));
        out.emplace_back(r.pixmap, r.pixmap + r.pixmap_size);
    }
    return out;
}

TEST(VidOnWindows, RawAndPpmRoundTripsVerifyAndRepair)
{
    vidtest::TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    auto at = [&](const std::string& name) { return "\"" + dir.file(name) + "\""; };
    vidtest::VidFile file = vidtest::make_rgb_vid(24, 16, 5);
    ASSERT_TRUE(vidtest::write_file(dir.file("clip.vid"), file.bytes));

    EXPECT_EQ(vid("--version"), 0);
    EXPECT_EQ(vid("info " + at("clip.vid")), 0);
    EXPECT_EQ(vid("verify " + at("clip.vid")), 0);
    ASSERT_EQ(vid("export " + at("clip.vid") + " --format raw -o " + at("clip.rgb")), 0);
    Bytes all;
    for (const Bytes& f : file.frames)
        all.insert(all.end(), f.begin(), f.end());
    EXPECT_EQ(vidtest::read_file(dir.file("clip.rgb")), all);
    ASSERT_EQ(vid("import " + at("back.vid") + " --size 24x16 " + at("clip.rgb")), 0);
    EXPECT_EQ(frames_of(dir.file("back.vid")), file.frames);
    ASSERT_EQ(vid("export " + at("clip.vid") + " --format ppm -o " + at("ppm")), 0);
    ASSERT_EQ(
        vid("import " + at("fromppm.vid") + " " + at("ppm/00000.ppm") + " " + at("ppm/00004.ppm")),
        0);
    std::vector<Bytes> two = frames_of(dir.file("fromppm.vid"));
    ASSERT_EQ(two.size(), 2u);
    EXPECT_EQ(two[1], file.frames[4]);
    // PNG is not part of this build: asked for, it is refused, not faked.
    EXPECT_EQ(vid("export " + at("clip.vid") + " -o " + at("png")), 1);

    // A file whose header and table were lost, rebuilt; the original stays as it was.
    Bytes zeroed = file.bytes;
    int64_t first = vidtest::table_entry(zeroed, 0);
    std::fill(zeroed.begin(), zeroed.begin() + first, 0);
    ASSERT_TRUE(vidtest::write_file(dir.file("zero.vid"), zeroed));
    EXPECT_NE(vid("verify " + at("zero.vid")), 0);
    ASSERT_EQ(vid("repair " + at("zero.vid") + " " + at("fixed.vid") + " --size 24x16"), 0);
    EXPECT_EQ(frames_of(dir.file("fixed.vid")), file.frames);
    EXPECT_EQ(vidtest::read_file(dir.file("zero.vid")), zeroed);
}

} // namespace

// Windows cannot rename a finished file over one another handle holds open: a writer past its
// table that finishes while a reader is open says so (a failure, with what the file keeps),
// leaves no temporary file, and its file still reads the frames of its table.
TEST(VidOnWindows, AFinishThatCannotRenameSaysSo)
{
    vidtest::TempDir dir;
    const std::string path = dir.file("held.vid");
    VidHeader w(path.c_str(), nullptr, 16, 8, 2);
    ASSERT_TRUE(w.isOpen());
    w.growTableWhenFull();
    for (int k = 0; k < 4; k++) {
        memcpy(w.pixmap, vidtest::make_rgb_frame(16, 8, k).data(), size_t(w.pixmap_size));
        ASSERT_TRUE(w.writeNextFrameToVideoFile());
    }
    {
        VidHeader held(path.c_str(), nullptr);
        ASSERT_TRUE(held.isOpen());
        EXPECT_FALSE(w.finish());
        EXPECT_EQ(w.lastError().result, VidResult::not_permitted); // the system refused
        EXPECT_NE(w.lastError().detail.find("it keeps its 4 frames"), std::string::npos)
            << w.lastError().detail;
    }
    EXPECT_TRUE(vidtest::read_file(path + ".partial0").empty());
    EXPECT_EQ(frames_of(path).size(), 2u);
}

// A test's own folder with the vid program run in it as a real process, and the frames of the
// files it leaves, for the tests of the command-line programs.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "VidHeader.h"
#include "program_run.h"
#include "vid_test_files.h"

namespace vidtest {

inline std::string vid_path()
{
    return bin_path("vid");
}

inline bool have(const char* program)
{
    return system((std::string("command -v ") + program + " > /dev/null 2>&1").c_str()) == 0;
}

class VidCli : public testing::Test {
  protected:
    void SetUp() override { ASSERT_FALSE(dir.path().empty()); }

    std::string at(const std::string& name) const { return dir.path() + "/" + name; }

    // Runs a shell command line in the test's folder; $VID stands for the program. Standard
    // output goes where the line sends it (else it is kept in .out).
    Outcome sh(const std::string& line)
    {
        return run_in(dir.path(), "VID='" + vid_path() + "'; " + line);
    }

    // Every frame of a VID file as the reader returns it (RGB), or the samples (mosaic).
    std::vector<Bytes> frames_of(const std::string& name, bool mosaic = false)
    {
        std::vector<Bytes> out;
        VidHeader r(at(name).c_str(), stderr);
        for (int k = 0; r.isOpen() && k < r.num_frames; k++) {
            EXPECT_TRUE(r.readFrameFromVideoFile(k)) << name << " frame " << k;
            const unsigned char* p = mosaic ? r.uncompressed_buffer : r.pixmap;
            size_t n = mosaic ? r.uncompressed_buffer_size : size_t(r.pixmap_size);
            out.emplace_back(p, p + n);
        }
        return out;
    }

    TempDir dir;
};

} // namespace vidtest

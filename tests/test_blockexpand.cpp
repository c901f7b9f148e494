// Runs the real blockexpand program as a process on files in a scratch directory and
// checks its output files, reports and exit statuses.
#include "codec_test_data.h"
#include "compress_uncompress_MT.h"
#include "program_run.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace codec_test;

namespace {

std::string read_file(const std::string& p)
{
    std::ifstream f(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

bool exists(const std::string& p)
{
    struct stat st;
    return lstat(p.c_str(), &st) == 0;
}

void write_file(const std::string& p, const std::vector<uint8_t>& bytes)
{
    std::ofstream f(p, std::ios::binary);
    f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

class BlockExpand : public testing::Test {
  protected:
    vidtest::TempDir scratch;
    std::string dir = scratch.path();
    std::string program = vidtest::bin_path("blockexpand");

    void SetUp() override { ASSERT_FALSE(dir.empty()); }

    std::string path(const std::string& name) const { return dir + "/" + name; }

    // The scratch folder's entries (one level), sorted, without the captured output.
    std::string listing() const
    {
        return vidtest::run_in(dir,
                               "ls -A | grep -v '^\\.out$' | grep -v '^\\.err$' | tr '\\n' ' '")
            .out;
    }

    // Runs blockexpand with the given argument text from inside the scratch directory;
    // returns its exit status and leaves its standard error in `err`.
    int run(const std::string& args)
    {
        vidtest::Outcome r = vidtest::run_in(dir, "'" + program + "' " + args);
        err = r.err;
        return r.status;
    }

    std::string err;
};

std::vector<uint8_t> blocked(const std::vector<uint8_t>& data)
{
    std::vector<uint8_t> dest(data.size() * 2 + 100);
    unsigned long size = dest.size();
    EXPECT_EQ(compress_MT(dest.data(), size, const_cast<uint8_t*>(data.data()), data.size()), 0);
    dest.resize(size);
    return dest;
}

std::string as_string(const std::vector<uint8_t>& v)
{
    return std::string(v.begin(), v.end());
}

} // namespace

TEST_F(BlockExpand, NamesTheOutputByTheZlibRule)
{
    ASSERT_EQ(mkdir(path("a").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(path("run.zlibdata").c_str(), 0755), 0);
    struct Case {
        const char* input;
        const char* output;
    };
    const Case cases[] = {
        {"clip.zlib", "clip"},
        {"clip", "clip.unzlib"},
        {"a/b.zlib.old", "a/b"},
        {"x.zlibz", "x"},
        {"y.zlib.zlib", "y"},
        {"clip.bin", "clip.bin.unzlib"},
        // A ".zlib" in a folder name is not cut: the output stays in the input's folder.
        {"run.zlibdata/frame.ppm.zlib", "run.zlibdata/frame.ppm"},
        {"run.zlibdata/frame", "run.zlibdata/frame.unzlib"},
    };
    std::vector<uint8_t> data = photo_like_frame(64, 40, 1);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        write_file(path(c.input), blocked(data));
        EXPECT_EQ(run(std::string("'") + c.input + "' ignored extra"), 0);
        EXPECT_EQ(err, "");
        EXPECT_FALSE(exists(path(c.input))) << "the input is deleted";
        EXPECT_EQ(read_file(path(c.output)), as_string(data));
    }
}

TEST_F(BlockExpand, ExpandsOneBlockAndEightBlocksAndReplacesAnOldOutput)
{
    for (size_t size : {size_t(1), size_t(76800), size_t(921600)}) {
        SCOPED_TRACE(size);
        std::vector<uint8_t> data = random_bytes(size, uint32_t(size));
        std::vector<uint8_t> file = blocked(data);
        EXPECT_EQ(get32(file, 8), size == 921600 ? 8u : 1u);
        write_file(path("f.zlib"), file);
        write_file(path("f"), std::vector<uint8_t>(2000000, 'x'));
        ASSERT_EQ(chmod(path("f").c_str(), 0640), 0);
        EXPECT_EQ(run("f.zlib"), 0);
        EXPECT_EQ(read_file(path("f")), as_string(data));
        struct stat st;
        ASSERT_EQ(stat(path("f").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0640u) << "the replaced output's permissions are kept";
    }
}

TEST_F(BlockExpand, UsageWithoutArgument)
{
    EXPECT_EQ(run(""), 1);
    EXPECT_EQ(err, "Usage: blockexpand <file to expand>\n.");
}

TEST_F(BlockExpand, MissingInputIsReportedAndNoOutputIsMade)
{
    EXPECT_EQ(run("nothere.zlib"), 1);
    EXPECT_NE(err.find(" Unable to open input file in 'rb' mode.\nnothere.zlib\n"),
              std::string::npos)
        << err;
    EXPECT_EQ(err.compare(0, 16, "blockexpand.cpp:"), 0) << err;
    EXPECT_FALSE(exists(path("nothere")));
}

TEST_F(BlockExpand, ZlibAloneGivesAnEmptyOutputNameAndKeepsTheInput)
{
    std::vector<uint8_t> file = blocked(random_bytes(300, 2));
    write_file(path(".zlib"), file);
    EXPECT_EQ(run(".zlib"), 1);
    EXPECT_NE(err.find(" Unable to open output file in 'wb' mode.\n\n"), std::string::npos) << err;
    EXPECT_EQ(read_file(path(".zlib")), as_string(file));
}

TEST_F(BlockExpand, RefusesDamagedOrForeignFilesAndKeepsThem)
{
    std::vector<uint8_t> data = random_bytes(100000, 3);
    std::vector<uint8_t> good = blocked(data);
    std::vector<uint8_t> longer = good;
    longer.push_back(0);
    std::vector<uint8_t> shorter(good.begin(), good.end() - 1);
    // A buffer one byte off reports the total its header announces, as users are told.
    const std::string announced =
        "uncompress_MT gives out_file_size = " + std::to_string(data.size()) + " bytes.\n";
    struct Case {
        const char* name;
        std::vector<uint8_t> file;
        std::string expected;
    };
    const Case cases[] = {
        {"one_byte_longer", longer,
         "Mismatch in compressed sizes " + std::to_string(good.size()) + " vs. " +
             std::to_string(longer.size()) + "blockexpand.cpp:"},
        {"one_byte_longer_total", longer, announced},
        {"one_byte_shorter_total", shorter, announced},
        {"plain_zlib", zlib_level9(data.data(), data.size()), "out_file_size = 0 bytes.\n"},
        {"garbage", random_bytes(5000, 4), "out_file_size = 0 bytes.\n"},
        {"empty", {}, "out_file_size = 0 bytes.\n"},
        {"short_header", std::vector<uint8_t>(good.begin(), good.begin() + 10),
         "out_file_size = 0"},
    };
    write_file(path("in"), {'o', 'l', 'd'});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        write_file(path("in.zlib"), c.file);
        EXPECT_EQ(run("in.zlib"), 1);
        EXPECT_NE(err.find(c.expected), std::string::npos) << err;
        EXPECT_NE(err.find(" Could not decompress, uncompress_MT gives out_file_size = "),
                  std::string::npos)
            << err;
        EXPECT_EQ(read_file(path("in.zlib")), as_string(c.file)) << "the input stays";
        EXPECT_EQ(read_file(path("in")), "old") << "an existing output stays as it was";
        EXPECT_EQ(listing(), "in in.zlib ") << "nothing else is left behind";
    }
}

TEST_F(BlockExpand, AFailedWriteKeepsTheInputAndTheOldOutput)
{
    // Writes beyond 100 KiB fail (EFBIG; SIGXFSZ ignored so the write returns an error).
    std::vector<uint8_t> file = blocked(random_bytes(300000, 5));
    write_file(path("clip.zlib"), file);
    write_file(path("clip"), {'o', 'l', 'd'});
    std::string saved = program;
    program = "sh' -c 'trap \"\" XFSZ; ulimit -f 100; exec \"$0\" \"$@\"' '" + saved;
    EXPECT_EQ(run("clip.zlib"), 1);
    program = saved;
    EXPECT_NE(err.find("output file.\n" + std::string("clip\n")), std::string::npos) << err;
    EXPECT_NE(err.find("too large"), std::string::npos) << "the system's reason: " << err;
    EXPECT_EQ(read_file(path("clip.zlib")), as_string(file));
    EXPECT_EQ(read_file(path("clip")), "old");
    EXPECT_EQ(listing(), "clip clip.zlib ");
}

TEST_F(BlockExpand, AnOutputNameThatLinksToTheInputIsReplacedNotWrittenThrough)
{
    std::vector<uint8_t> data = random_bytes(5000, 6);
    write_file(path("clip.zlib"), blocked(data));
    ASSERT_EQ(symlink("clip.zlib", path("clip").c_str()), 0);
    EXPECT_EQ(run("clip.zlib"), 0) << err;
    struct stat st;
    ASSERT_EQ(lstat(path("clip").c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(read_file(path("clip")), as_string(data));
    EXPECT_EQ(listing(), "clip ");
}

TEST_F(BlockExpand, RefusesInputsOfTwoGigabytesOrMore)
{
    // A sparse file: no disk space is used.
    std::string big = path("big.zlib");
    FILE* f = fopen(big.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(ftruncate(fileno(f), off_t(1) << 31), 0);
    fclose(f);
    EXPECT_EQ(run("big.zlib"), 1);
    EXPECT_NE(err.find("files of 2^31 bytes or more are not handled"), std::string::npos) << err;
    EXPECT_TRUE(exists(big));
}

TEST_F(BlockExpand, UnreadableInputIsReportedAndKept)
{
    // A directory opens for reading but cannot be read.
    ASSERT_EQ(mkdir(path("d.zlib").c_str(), 0755), 0);
    EXPECT_EQ(run("d.zlib"), 1);
    EXPECT_EQ(err.compare(0, 16, "blockexpand.cpp:"), 0) << err;
    EXPECT_NE(err.find("The input is a directory, not a file."), std::string::npos) << err;
    EXPECT_TRUE(exists(path("d.zlib")));
}

// Standalone driver for the fuzz targets: feeds every file named on the command line, or
// found in a directory named there, to LLVMFuzzerTestOneInput once. A failed check inside
// the target aborts, which fails the CTest test that runs this driver.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

bool replay_file(const std::filesystem::path& p)
{
    std::ifstream f(p, std::ios::binary);
    if (!f) {
        fprintf(stderr, "cannot read %s\n", p.string().c_str());
        return false;
    }
    std::vector<char> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    // A heap copy of exactly the file's size, so reads past the input are caught.
    uint8_t* data = new uint8_t[bytes.size() ? bytes.size() : 1];
    std::copy(bytes.begin(), bytes.end(), data);
    LLVMFuzzerTestOneInput(data, bytes.size());
    delete[] data;
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    int replayed = 0;
    bool ok = true;
    for (int i = 1; i < argc; i++) {
        std::error_code ec;
        std::filesystem::path arg(argv[i]);
        if (std::filesystem::is_directory(arg, ec)) {
            std::vector<std::filesystem::path> files;
            for (const auto& entry : std::filesystem::directory_iterator(arg, ec))
                if (entry.is_regular_file())
                    files.push_back(entry.path());
            std::sort(files.begin(), files.end());
            for (const auto& p : files) {
                ok = replay_file(p) && ok;
                replayed++;
            }
        } else {
            ok = replay_file(arg) && ok;
            replayed++;
        }
    }
    printf("replayed %d inputs\n", replayed);
    return ok ? 0 : 1;
}

// Feeds every file of the given folders (or the given files) to LLVMFuzzerTestOneInput once,
// so the corpus of each fuzz target runs as an ordinary test without libFuzzer.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace fs = std::filesystem;

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s CORPUS_DIR_OR_FILE...\n", argv[0]);
        return 2;
    }
    std::vector<fs::path> files;
    for (int i = 1; i < argc; ++i) {
        fs::path p(argv[i]);
        std::error_code ec;
        if (fs::is_directory(p, ec)) {
            for (const auto& e : fs::recursive_directory_iterator(p))
                if (e.is_regular_file()) files.push_back(e.path());
        } else if (fs::is_regular_file(p, ec)) {
            files.push_back(p);
        } else {
            // A missing corpus must not pass as an empty one.
            std::fprintf(stderr, "%s: no such file or folder\n", argv[i]);
            return 2;
        }
    }
    std::sort(files.begin(), files.end());
    for (const auto& f : files) {
        std::ifstream in(f, std::ios::binary);
        std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        // A fresh heap copy of the exact size, so reads past the end are caught.
        std::vector<uint8_t> data(bytes.begin(), bytes.end());
        std::unique_ptr<uint8_t[]> exact(new uint8_t[data.size() ? data.size() : 1]);
        std::copy(data.begin(), data.end(), exact.get());
        LLVMFuzzerTestOneInput(exact.get(), data.size());
    }
    std::printf("%zu inputs replayed\n", files.size());
    return 0;
}

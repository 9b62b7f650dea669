// The block line reader and the extent line reader. The input is written to a file and read
// back line by line; the lines must equal a plain split (LF ends a line, CR is dropped,
// Ctrl-Z ends the file, a long line keeps its prefix), and each line must be judged like the
// step-by-step rules do.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "formats/TextPoints.h"
#include "tools/Tools.h"

namespace {

bool Reference(std::string_view raw, double& x, double& y) {
    std::string s = tervalo::TrimLeft(raw);
    auto b = s.find(' ');
    if (b == std::string::npos) return false;
    bool xOk = tervalo::ValDouble(tervalo::NumberChars(s.substr(0, b)), x) == 0;
    s = tervalo::TrimLeft(s.substr(b + 1));
    b = s.find(' ');
    if (b == std::string::npos || !xOk) return false;
    return tervalo::ValDouble(tervalo::NumberChars(s.substr(0, b)), y) == 0;
}

// A line is delivered up to its first LinePrefixBytes bytes (CRs counted), without CRs.
std::vector<std::string> Split(std::string_view bytes) {
    std::vector<std::string> out;
    std::string cur;
    std::size_t raw = 0;
    bool open = false;
    for (char c : bytes) {
        if (c == 0x1A) break;
        if (c == '\n') {
            out.push_back(cur);
            cur.clear();
            raw = 0;
            open = false;
        } else {
            open = true;
            if (c != '\r' && raw < tervalo::LinePrefixBytes) cur.push_back(c);
            ++raw;
        }
    }
    if (open) out.push_back(cur);
    return out;
}

const std::string& TempPath() {
    static const std::string path = "/tmp/tervalo_fuzz_extentline_" + std::to_string(::getpid());
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> want = Split(bytes);
    {
        FILE* f = std::fopen(TempPath().c_str(), "wb");
        if (!f) return 0;
        if (size) std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    std::size_t i = 0;
    {
        tervalo::TZeilenLeser reader(TempPath());
        std::string_view line;
        while (reader.ReadLine(line)) {
            if (i >= want.size() || line != want[i]) std::abort();
            double x = 0, y = 0, rx = 0, ry = 0;
            bool got = tervalo::ReadExtentLine(line, x, y);
            if (got != Reference(line, rx, ry)) std::abort();
            if (got && (std::memcmp(&x, &rx, sizeof x) != 0 || std::memcmp(&y, &ry, sizeof y) != 0))
                std::abort();
            ++i;
        }
    }
    if (i != want.size()) std::abort();
    std::remove(TempPath().c_str());
    return 0;
}

// The point line reader against the plain step-by-step rules built from the Tools filters:
// both must accept the same lines and give the same values bit for bit.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "formats/TextPoints.h"
#include "tools/Tools.h"

namespace {

bool Reference(const std::string& line, double& x, double& y, double& z) {
    auto b = line.find(' ');
    if (b == std::string::npos) return false;
    bool xOk = tervalo::ValDouble(tervalo::NumberChars(line.substr(0, b)), x) == 0;
    std::string s = tervalo::TrimLeft(line.substr(b + 1));
    b = s.find(' ');
    if (b == std::string::npos || !xOk) return false;
    bool yOk = tervalo::ValDouble(tervalo::NumberChars(s.substr(0, b)), y) == 0;
    std::string rest = tervalo::NumberChars(s.substr(b + 1));
    if (rest.empty()) return false;
    bool zOk = tervalo::ValDouble(rest, z) == 0;
    return xOk && yOk && zOk;
}

bool Same(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view raw(reinterpret_cast<const char*>(data), size);
    // Callers remove the leading white space and pass over empty lines.
    std::string line = tervalo::TrimLeft(raw);
    if (line.empty()) return 0;
    double x = 0, y = 0, z = 0, rx = 0, ry = 0, rz = 0;
    bool got = tervalo::ReadPointLine(line, x, y, z);
    bool want = Reference(line, rx, ry, rz);
    if (got != want) std::abort();
    if (got && !(Same(x, rx) && Same(y, ry) && Same(z, rz))) std::abort();
    return 0;
}

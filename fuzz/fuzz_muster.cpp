// Tile names and the user's name pattern on arbitrary bytes: the pattern (up to the first line
// feed) and the name (the rest). Matching ends in a square of positive size or nothing, never a
// crash or a runaway match; an unusable pattern is passed over for the agencies' one.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "ordner/KachelMuster.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tervalo;
    const std::string_view alles(reinterpret_cast<const char*>(data), size);
    const std::size_t nl = alles.find('\n');
    const std::string_view muster = nl == std::string_view::npos ? alles : alles.substr(0, nl);
    const std::string_view name = nl == std::string_view::npos ? std::string_view() : alles.substr(nl + 1);
    (void)IsKachelName(name);
    const bool brauchbar = CheckMuster(muster).empty();
    for (const auto& e : {ExtentFromName(name, muster), ExtentFromName(name), ExtentFromName(muster)}) {
        if (!e) continue;
        const double b = e->Xmax - e->Xmin, h = e->Ymax - e->Ymin;
        if (!std::isfinite(e->Xmin) || !std::isfinite(e->Ymin) || !(b > 0) || b != h) std::abort();
    }
    if (!brauchbar && ExtentFromName(name, muster).has_value() != ExtentFromName(name).has_value()) std::abort();
    return 0;
}

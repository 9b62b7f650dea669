#include "config/Version.h"

#include "config/TYPEN.h"

#ifndef TERVALO_PAKETVERSION
#error "TERVALO_PAKETVERSION comes from the build (CMakeLists.txt)"
#endif

namespace tervalo {

const char* PaketVersion() { return TERVALO_PAKETVERSION; }

std::string VersionText(std::string_view program) {
    return std::string(program) + " " + PaketVersion() + " (Konfiguration " + Version + ")";
}

}  // namespace tervalo

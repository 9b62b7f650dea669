#pragma once
// The versions a program names with --version: the package's and the configuration file's.
#include <string>
#include <string_view>

namespace tervalo {

// The package version, as the build system sets it for the Debian package ("1.2.0").
const char* PaketVersion();
// "<program> <package version> (Konfiguration <configuration version>)".
std::string VersionText(std::string_view program);

}  // namespace tervalo

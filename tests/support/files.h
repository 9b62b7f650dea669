#pragma once
// Temporary folders and whole-file reads and writes for the tests.
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

namespace tervalo::test {

// A fresh folder, removed with everything in it when the object goes. Readable by all, so
// programs run as another user can reach files placed there.
class TempDir {
public:
    TempDir() {
        char tmpl[] = "/tmp/tervalo-test-XXXXXX";
        if (!::mkdtemp(tmpl)) throw std::runtime_error("mkdtemp failed");
        path_ = tmpl;
        ::chmod(tmpl, 0755);
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string operator/(const std::string& name) const { return (path_ / name).string(); }
    const std::filesystem::path& Path() const { return path_; }

private:
    std::filesystem::path path_;
};

// A configuration file with the default settings and no files, as the tests' starting point.
inline constexpr const char* kLeererKatalog =
    "VERSION   1.2b\r\n"
    " 5.0                ; Standard-Rasterabstand der Rohdaten [m]\r\n"
    " 50.0               ; zu betrachtende Breite um den Messpunkt [m]\r\n"
    "2.0                 ; Potenz f\xFCr Wichtung bei Extrapolation (Verfahren nach Shepard)\r\n"
    "3                   ; dBase Export-Version\r\n"
    "30\t70\t70\t45\t41\t0\t0\t0\t0\t0\t0\t\r\n"
    "0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t\r\n"
    "[DATEIEN]\r\n";

inline std::string ReadAll(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

inline void WriteAll(const std::string& path, const std::string& data) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f << data;
}

}  // namespace tervalo::test

#pragma once
// Fuzz targets whose code under test reads a file: the input bytes go to a temporary file
// named per target and process, so parallel fuzzing jobs do not meet.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

inline std::string WriteFuzzInput(const char* tag, const char* ext, const void* data, size_t size) {
    const std::string path =
        std::string("/tmp/tervalo_fuzz_") + tag + "_" + std::to_string(::getpid()) + ext;
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) std::abort();
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);
    return path;
}

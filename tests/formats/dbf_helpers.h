#pragma once
// Helpers of the dBase table tests: a temporary folder, file bytes, hand-made tables.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/files.h"
#include "support/shell.h"

namespace dbftest {

using Bytes = std::vector<uint8_t>;

using tervalo::test::TempDir;

inline Bytes ReadBytes(const std::string& path) {
    const std::string s = tervalo::test::ReadAll(path);
    return Bytes(s.begin(), s.end());
}

inline void WriteBytes(const std::string& path, const Bytes& b) {
    tervalo::test::WriteAll(path, std::string(b.begin(), b.end()));
}

inline void Put16(Bytes& b, size_t at, uint32_t v) {
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}
inline void Put32(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
}
inline uint32_t Get32(const Bytes& b, size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}

struct Field {
    std::string name;
    char type;
    uint8_t length;
    uint8_t decimals;
};

// A level 3/4 table built byte by byte, as another program might write it. Records are given
// as their full bytes (deletion flag first).
inline Bytes MakeTable(const std::vector<Field>& fields, const std::vector<std::string>& records,
                       uint8_t version = 0x03, uint8_t languageDriver = 0) {
    size_t headerLen = 32 + 32 * fields.size() + 1;
    size_t recordLen = 1;
    for (const auto& f : fields) recordLen += f.length;
    Bytes b(headerLen, 0);
    b[0] = version;
    b[1] = 125;
    b[2] = 1;
    b[3] = 2;
    Put32(b, 4, static_cast<uint32_t>(records.size()));
    Put16(b, 8, static_cast<uint32_t>(headerLen));
    Put16(b, 10, static_cast<uint32_t>(recordLen));
    b[29] = languageDriver;
    for (size_t i = 0; i < fields.size(); ++i) {
        size_t at = 32 + 32 * i;
        std::memcpy(&b[at], fields[i].name.data(), std::min<size_t>(10, fields[i].name.size()));
        b[at + 11] = static_cast<uint8_t>(fields[i].type);
        b[at + 16] = fields[i].length;
        b[at + 17] = fields[i].decimals;
    }
    b[headerLen - 1] = 0x0D;
    for (const auto& r : records) {
        if (r.size() != recordLen) throw std::runtime_error("record of wrong length");
        b.insert(b.end(), r.begin(), r.end());
    }
    b.push_back(0x1A);
    return b;
}

// A record of three N fields of length 14 from their texts (right-aligned).
inline std::string Rec3(const std::string& x, const std::string& y, const std::string& z, char flag = ' ') {
    auto pad = [](const std::string& s) { return std::string(14 - s.size(), ' ') + s; };
    return std::string(1, flag) + pad(x) + pad(y) + pad(z);
}

inline std::vector<Field> Xyz() { return {{"X", 'N', 14, 5}, {"Y", 'N', 14, 5}, {"Z", 'N', 14, 5}}; }

// Runs a shell command and returns its standard output; the exit status goes to `status`.
inline std::string RunCommand(const std::string& cmd, int* status = nullptr) {
    tervalo::test::ShellResult r = tervalo::test::Shell(cmd, tervalo::test::TStderr::Passed);
    if (status) *status = r.code;
    return r.out;
}

}  // namespace dbftest

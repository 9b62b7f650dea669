#pragma once
// gzip-packed text point files, read as they come: the stream is inflated block by block
// while the caller reads (by a second thread, so decoding and scanning share the two cores),
// one member after another, so a file of concatenated members reads whole. Memory is a few
// blocks whatever the file's size.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "formats/TextPoints.h"
#include "tools/Errors.h"

namespace tervalo {

inline constexpr const char* TextGzipDefekt = "Datei besch\xC3\xA4" "digt (gzip)";

// A damaged stream: truncated, a wrong checksum, a broken block, bytes after a member that
// start no new one. The text names the path.
class EGzipDefekt : public EInOutError {
public:
    explicit EGzipDefekt(const std::string& path);
};

// The unpacked bytes of a gzip stream read from `gepackt`.
class TGzipStrom : public TByteQuelle {
public:
    // `vorauslesen`: a second thread inflates the next blocks while the caller works on the
    // last one; without it every block is inflated inside Read.
    TGzipStrom(std::unique_ptr<TByteQuelle> gepackt, std::string path, bool vorauslesen = true);
    ~TGzipStrom() override;
    TGzipStrom(const TGzipStrom&) = delete;
    TGzipStrom& operator=(const TGzipStrom&) = delete;
    // Up to `max` unpacked bytes; 0 after the last member. Damage throws EGzipDefekt, a read
    // error EInOutError, both after every byte before them was delivered.
    std::size_t Read(char* dst, std::size_t max) override;
    uint64_t Size() const override { return 0; }  // unknown until the end

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace tervalo

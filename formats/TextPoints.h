#pragma once
// XYZ and CSV text point files: block line reader, the three line readers, line writers.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tools/Datei.h"
#include "tools/SafeWriter.h"
#include "tools/Tools.h"

namespace tervalo {

// Where the bytes of a text point file come from: a plain file here; a decoder can stand in
// for it, the line reader only asks for the next bytes.
class TByteQuelle {
public:
    virtual ~TByteQuelle() = default;
    // Up to `max` bytes to `dst`; 0 at the end. Errors throw EInOutError naming the file.
    virtual std::size_t Read(char* dst, std::size_t max) = 0;
    // Bytes the source holds as far as known on opening; only a hint (0: unknown).
    virtual uint64_t Size() const = 0;
};

// A regular file, read as it is.
class TDateiBytes : public TByteQuelle {
public:
    TDateiBytes() = default;
    ~TDateiBytes() override;
    TDateiBytes(const TDateiBytes&) = delete;
    TDateiBytes& operator=(const TDateiBytes&) = delete;
    // 0 when the file is open; otherwise the system's error number (EISDIR for a folder,
    // EACCES for a pipe or device, which are no point files).
    int Open(const std::string& path);
    // Takes on a file already opened for reading (OpenForReading) and not read from yet.
    void Uebernimm(TDateiHandle fd, std::string path, uint64_t groesse);
    std::size_t Read(char* dst, std::size_t max) override;
    uint64_t Size() const override { return groesse_; }

private:
    TDateiHandle fd_;
    uint64_t groesse_ = 0;
    std::string path_;
};

// Reads a text file in large blocks. A line ends at LF or CR LF, a lone CR is dropped,
// byte 0x1A ends the file, a last line without line end counts. A line is delivered up to
// its first LinePrefixBytes bytes (Tools.h); the rest of a longer line is passed over, so
// memory does not depend on line length. Errors throw EInOutError; a file that cannot be
// opened (a folder included) throws from the path constructor, a read error names the path.
class TZeilenLeser {
public:
    explicit TZeilenLeser(const std::string& path);
    explicit TZeilenLeser(std::unique_ptr<TByteQuelle> quelle);
    ~TZeilenLeser();
    TZeilenLeser(const TZeilenLeser&) = delete;
    TZeilenLeser& operator=(const TZeilenLeser&) = delete;

    // The next line, valid until the next call; false at the end.
    [[gnu::always_inline]] inline bool ReadLine(std::string_view& line);
    // Reads the source to its end without delivering anything: a packed file's checksum
    // covers the bytes behind a Ctrl-Z too, so only its end shows that the lines were sound.
    void RestPruefen();
    // Bytes of the file taken up by the lines delivered so far (for progress counters).
    uint64_t BytesRead() const { return base_ + start_; }

private:
    static constexpr std::size_t kGruppe = 64;
    void Anlegen(uint64_t groesse);
    void Gruppe();
    bool Nachladen();
    bool Schluss(std::string_view& line);
    std::string_view Zeile(std::size_t anfang, std::size_t ende, bool schmutzig);
    std::string_view OhneCr(const char* p, std::size_t len);

    std::unique_ptr<TByteQuelle> quelle_;
    std::unique_ptr<char[]> buf_;
    std::size_t cap_ = 0;
    std::size_t end_ = 0;     // valid bytes; buf_[end_] is 0
    std::size_t start_ = 0;   // start of the unfinished line
    std::size_t pos_ = 0;     // scanning goes on from here
    std::size_t grp_ = 0;     // start of the group the masks belong to
    uint64_t enden_ = 0;      // LF and 0x1A not yet handled, bit k for buf_[grp_ + k]
    uint64_t einzelCr_ = 0;   // CRs not followed by a line end, likewise
    bool schmutzig_ = false;  // the unfinished line holds such a CR
    bool eof_ = false;
    uint64_t base_ = 0;       // file offset of buf_[0] (past the passed-over rest of a cut line)
    std::string side_;        // a line with a lone CR, without its CRs
};

// Removes the leading characters with codes up to 32.
inline std::string_view TrimLeading(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size() && static_cast<unsigned char>(s[i]) <= 32) ++i;
    return s.substr(i);
}

// Point line reader: the line has had its leading codes <= 32 removed and is not empty.
bool ReadPointLine(std::string_view line, double& x, double& y, double& z);
// Extent line reader: the line as read.
bool ReadExtentLine(std::string_view line, double& x, double& y);
// The height query's line reader, lenient: leading codes <= 32 are passed over, X and Y end at
// a blank, the rest is Z (further columns join it); each column is cleaned (digits, signs,
// exponents; "," and "." as point) and converted. False when the line yields no point (no
// blank after its first column); otherwise x, y, z hold what was read (0 for what was not
// read, a failed conversion's value otherwise).
bool ParseQueryLine(std::string_view line, double& x, double& y, double& z);

// Buffered text output into the caller's safe file; every line ends with CR LF. Close
// flushes; the caller then commits the file, or drops it. Write errors throw EInOutError
// naming the path; after one, the writer refuses every further line and Close.
class TPunktSchreiber {
public:
    explicit TPunktSchreiber(TSichereDatei& file);
    ~TPunktSchreiber();
    TPunktSchreiber(const TPunktSchreiber&) = delete;
    TPunktSchreiber& operator=(const TPunktSchreiber&) = delete;
    void WriteXyz(double x, double y, double z);
    void WriteCsv(double x, double y, double z, char decimalSeparator);
    void WriteCsvHeading();
    void WriteLine(std::string_view text);
    // Bytes written so far, and the way back: Truncate drops every byte after `position`
    // (at most Position()) from the file, so writing goes on there.
    uint64_t Position() const;
    void Truncate(uint64_t position);
    void Close();
private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The line texts themselves (without CR LF), for tests and callers with their own buffers.
// XYZ: FixedText(x, 12, 3) " " FixedText(y, 12, 3) " " FixedText(z, 9, 3).
// CSV: 12 / 12 / 9 significant digits, 3 decimals, ";" between; scientific ("1,5E13") when
// more digits stand before the point than significant digits are allowed.
std::string XyzLine(double x, double y, double z);
std::string CsvLine(double x, double y, double z, char decimalSeparator);

// --- inline parts of the line reader ---------------------------------------------------

inline bool TZeilenLeser::ReadLine(std::string_view& line) {
    for (;;) {
        if (enden_ != 0) {
            const uint64_t bit = enden_ & (~enden_ + 1);
            const std::size_t at = grp_ + static_cast<std::size_t>(__builtin_ctzll(enden_));
            enden_ ^= bit;
            bool schmutzig = schmutzig_;
            if (einzelCr_ != 0) {
                schmutzig |= (einzelCr_ & (bit - 1)) != 0;
                einzelCr_ &= ~((bit - 1) | bit);
            }
            if (buf_[at] == 0x1A) {
                // Ctrl-Z ends the file; a line before it counts when it holds a byte.
                enden_ = einzelCr_ = 0;
                end_ = pos_ = at;
                eof_ = true;
                if (at == start_) return false;
                line = Zeile(start_, at, schmutzig);
                start_ = at;
                return true;
            }
            line = Zeile(start_, at, schmutzig);
            start_ = at + 1;
            schmutzig_ = false;
            return true;
        }
        if (pos_ < end_) {
            Gruppe();
            continue;
        }
        if (!Nachladen()) return Schluss(line);
    }
}

inline std::string_view TZeilenLeser::Zeile(std::size_t anfang, std::size_t ende, bool schmutzig) {
    const char* p = buf_.get() + anfang;
    std::size_t len = ende - anfang;
    if (len > LinePrefixBytes) len = LinePrefixBytes;
    // A CR before the line end belongs to it; any other CR is dropped.
    if (len > 0 && p[len - 1] == '\r') --len;
    if (schmutzig) [[unlikely]]
        return OhneCr(p, len);
    return std::string_view(p, len);
}

}  // namespace tervalo

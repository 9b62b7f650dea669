#include "formats/TextPoints.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include "tools/Errors.h"
#include "tools/Tools.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tervalo {

namespace {

inline bool IsWhite(char c) { return static_cast<unsigned char>(c) <= 32; }

inline std::string_view SkipWhite(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size() && IsWhite(s[i])) ++i;
    return s.substr(i);
}

inline bool IsNumberChar(char c) {
    return (c >= '0' && c <= '9') || c == '+' || c == ',' || c == '-' || c == '.';
}

// NumberChars followed by the decimal conversion; true when the conversion succeeds.
// The plain form is converted in place; anything unusual goes through the Tools functions
// themselves, so both paths accept exactly the same texts.
bool FilteredNumber(std::string_view text, double& value) {
    std::array<char, 96> buf;
    std::string_view kept = text;
    std::size_t first = 0;
    while (first < text.size() && IsNumberChar(text[first])) ++first;
    if (first < text.size()) {  // something to drop: filter into the local buffer
        std::size_t n = first;
        if (n > buf.size()) return ValDouble(NumberChars(text), value) == 0;
        std::memcpy(buf.data(), text.data(), n);
        for (std::size_t i = first + 1; i < text.size(); ++i) {
            const char c = text[i];
            if (!IsNumberChar(c)) continue;
            if (n == buf.size()) return ValDouble(NumberChars(text), value) == 0;
            buf[n++] = c;
        }
        kept = std::string_view(buf.data(), n);
    }
    if (dezimal::ReadPlain(kept.data(), kept.data() + kept.size(), value)) return true;
    return ValDouble(kept, value) == 0;
}

inline std::size_t FindBlank(std::string_view s) {
    const void* p = std::memchr(s.data(), ' ', s.size());
    return p ? static_cast<std::size_t>(static_cast<const char*>(p) - s.data()) : std::string_view::npos;
}

}  // namespace

// --- line readers ------------------------------------------------------------------

namespace {

// The first two columns, as both readers split them: X before the first blank, Y before the
// next one. False when a blank is missing or X does not convert; yOk tells about Y, `rest`
// is what follows Y's blank.
bool ZweiSpalten(std::string_view line, double& x, double& y, bool& yOk, std::string_view& rest) {
    std::size_t b = FindBlank(line);
    if (b == std::string_view::npos) return false;
    const bool xOk = FilteredNumber(line.substr(0, b), x);
    rest = SkipWhite(line.substr(b + 1));
    b = FindBlank(rest);
    if (b == std::string_view::npos || !xOk) return false;
    yOk = FilteredNumber(rest.substr(0, b), y);
    rest = rest.substr(b + 1);
    return true;
}

}  // namespace

bool ReadPointLine(std::string_view line, double& x, double& y, double& z) {
    bool yOk = false;
    std::string_view rest;
    if (!ZweiSpalten(line, x, y, yOk, rest)) return false;
    // The rest is filtered as a whole, so further columns join the third one.
    bool any = false;
    for (char c : rest)
        if (IsNumberChar(c)) {
            any = true;
            break;
        }
    if (!any) return false;
    const bool zOk = FilteredNumber(rest, z);
    return yOk && zOk;
}

bool ReadExtentLine(std::string_view line, double& x, double& y) {
    bool yOk = false;
    std::string_view rest;
    return ZweiSpalten(SkipWhite(line), x, y, yOk, rest) && yOk;
}

namespace {

// One column of the query's rule: cleaned (CleanNumber with exponents) and converted; true
// when the conversion succeeds. The plain form, "," as point included, is what the cleaner
// keeps as it is, so it is converted in place.
bool AbfrageSpalte(std::string_view text, double& v) {
    if (dezimal::ReadPlain(text.data(), text.data() + text.size(), v, ',')) return true;
    return ValDouble(CleanNumber(text, true), v) == 0;
}

}  // namespace

bool ParseQueryLine(std::string_view line, double& x, double& y, double& z) {
    x = 0.0;
    y = 0.0;
    z = 0.0;
    std::size_t i = 0;
    const std::size_t n = line.size();
    while (i < n && IsWhite(line[i])) ++i;
    std::size_t blank = line.find(' ', i);
    if (blank == std::string_view::npos) return false;
    const bool xOk = AbfrageSpalte(line.substr(i, blank - i), x);
    i = blank + 1;
    while (i < n && IsWhite(line[i])) ++i;
    blank = line.find(' ', i);
    if (blank != std::string_view::npos && xOk) {
        AbfrageSpalte(line.substr(i, blank - i), y);
        i = blank + 1;
    }
    // The rest is Z; the cleaner drops blanks, so further columns join it.
    const std::string_view rest = line.substr(i);
    std::size_t a = 0, b = rest.size();
    while (a < b && IsWhite(rest[a])) ++a;
    while (b > a && IsWhite(rest[b - 1])) --b;
    if (dezimal::ReadPlain(rest.data() + a, rest.data() + b, z, ',')) return true;
    const std::string zText = CleanNumber(rest, true);
    if (!zText.empty()) ValDouble(zText, z);
    return true;
}

// --- byte source and line reader ----------------------------------------------------

TDateiBytes::~TDateiBytes() = default;

int TDateiBytes::Open(const std::string& path) {
    int err = 0;
    uint64_t groesse = 0;
    TDateiHandle h = OpenForReading(path.c_str(), err, &groesse);
    if (!h) return err;
    Uebernimm(std::move(h), path, groesse);
    return 0;
}

void TDateiBytes::Uebernimm(TDateiHandle fd, std::string path, uint64_t groesse) {
#ifdef POSIX_FADV_SEQUENTIAL
    ::posix_fadvise(fd.Fd(), 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
    fd_ = std::move(fd);
    path_ = std::move(path);
    groesse_ = groesse;
}

std::size_t TDateiBytes::Read(char* dst, std::size_t max) {
    if (!fd_) return 0;
    for (;;) {
        const ssize_t n = ::read(fd_.Fd(), dst, max);
        if (n >= 0) return static_cast<std::size_t>(n);
        if (errno != EINTR) ThrowFileError(errno, path_);
    }
}

namespace {
// Large enough for whole blocks of lines, small enough to stay in L2 while it is scanned.
constexpr std::size_t kBlock = std::size_t{1} << 19;
static_assert(kBlock > 2 * LinePrefixBytes);
}  // namespace

TZeilenLeser::TZeilenLeser(const std::string& path) {
    auto datei = std::make_unique<TDateiBytes>();
    if (const int err = datei->Open(path)) ThrowFileError(err);
    quelle_ = std::move(datei);
    Anlegen(quelle_->Size());
}

TZeilenLeser::TZeilenLeser(std::unique_ptr<TByteQuelle> quelle) : quelle_(std::move(quelle)) {
    Anlegen(quelle_->Size());
}

TZeilenLeser::~TZeilenLeser() = default;

void TZeilenLeser::Anlegen(uint64_t groesse) {
    // Small files need no full block; the buffer still grows (up to the line prefix) when
    // the file grows while it is read.
    cap_ = groesse > 0 && groesse < kBlock ? std::max<std::size_t>(static_cast<std::size_t>(groesse) + 1, 4096)
                                           : kBlock;
    // Room behind the data for a whole group: the scan loads 64 bytes at a time.
    buf_.reset(new char[cap_ + kGruppe + 1]);
    buf_[0] = 0;
}

// Marks the line ends and the lone CRs of the next group of up to 64 bytes.
void TZeilenLeser::Gruppe() {
    const char* p = buf_.get() + pos_;
    uint64_t enden = 0, cr = 0;
#if defined(__SSE2__)
    const __m128i lf = _mm_set1_epi8('\n');
    const __m128i sub = _mm_set1_epi8(0x1A);
    const __m128i wr = _mm_set1_epi8('\r');
    for (int k = 0; k < 4; ++k) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * k));
        const __m128i ende = _mm_or_si128(_mm_cmpeq_epi8(v, lf), _mm_cmpeq_epi8(v, sub));
        enden |= static_cast<uint64_t>(static_cast<uint32_t>(_mm_movemask_epi8(ende))) << (16 * k);
        cr |= static_cast<uint64_t>(static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, wr)))) << (16 * k);
    }
#else
    for (std::size_t k = 0; k < kGruppe; ++k) {
        if (p[k] == '\n' || p[k] == 0x1A) enden |= uint64_t{1} << k;
        if (p[k] == '\r') cr |= uint64_t{1} << k;
    }
#endif
    const std::size_t n = std::min(kGruppe, end_ - pos_);
    if (cr != 0) {
        // A CR right before a line end is the last byte of its line and goes with the end;
        // the byte behind the group is valid data or the 0 behind the data.
        uint64_t davor = enden >> 1;
        if (n == kGruppe && (p[kGruppe] == '\n' || p[kGruppe] == 0x1A)) davor |= uint64_t{1} << 63;
        cr &= ~davor;
    }
    if (n < kGruppe) {
        const uint64_t gueltig = (uint64_t{1} << n) - 1;
        enden &= gueltig;
        cr &= gueltig;
    }
    grp_ = pos_;
    pos_ += n;
    enden_ = enden;
    schmutzig_ |= einzelCr_ != 0;  // lone CRs after the last line end of the group before
    einzelCr_ = cr;
}

bool TZeilenLeser::Nachladen() {
    schmutzig_ |= einzelCr_ != 0;
    einzelCr_ = 0;
    if (eof_) return false;
    char* b = buf_.get();
    const std::size_t offen = end_ - start_;
    if (offen > LinePrefixBytes) {
        // The unfinished line is longer than its prefix: keep the prefix, pass over the
        // rest. Only the line's end is looked for from here on, so the offsets of the bytes
        // after the prefix are all that has to stay right.
        std::memmove(b, b + start_, LinePrefixBytes);
        base_ += end_ - LinePrefixBytes;
        end_ = LinePrefixBytes;
    } else {
        if (start_ > 0) std::memmove(b, b + start_, offen);
        base_ += start_;
        end_ = offen;
    }
    start_ = 0;
    pos_ = end_;
    if (end_ == cap_) {  // a small file's buffer, too short for a line that kept growing
        const std::size_t ncap = std::min(cap_ * 2, kBlock);
        std::unique_ptr<char[]> nb(new char[ncap + kGruppe + 1]);
        std::memcpy(nb.get(), b, end_);
        buf_ = std::move(nb);
        cap_ = ncap;
        b = buf_.get();
    }
    const std::size_t got = quelle_->Read(b + end_, cap_ - end_);
    if (got == 0) {
        eof_ = true;
        return false;
    }
    end_ += got;
    b[end_] = 0;
    return true;
}

void TZeilenLeser::RestPruefen() {
    start_ = pos_ = end_ = 0;
    enden_ = einzelCr_ = 0;
    eof_ = true;
    while (quelle_->Read(buf_.get(), cap_) > 0) {
    }
    buf_[0] = 0;
}

// The end of the data: a last line without line end, once.
bool TZeilenLeser::Schluss(std::string_view& line) {
    if (start_ == end_) return false;
    line = Zeile(start_, end_, schmutzig_);
    start_ = end_;
    schmutzig_ = false;
    return true;
}

std::string_view TZeilenLeser::OhneCr(const char* p, std::size_t len) {
    side_.clear();
    for (const char* q = p; q < p + len; ++q)
        if (*q != '\r') side_.push_back(*q);
    return side_;
}

}  // namespace tervalo

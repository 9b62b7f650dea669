#include "formats/TextPoints.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>

#include "tools/Errors.h"
#include "tools/Tools.h"

namespace tervalo {

namespace {

constexpr std::size_t kBlockSize = 1u << 20;

constexpr double kPow10d[23] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                 1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

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
// The common shapes are converted in place; anything unusual goes through the Tools
// functions themselves, so both paths accept exactly the same texts.
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
    const char* p = kept.data();
    const char* end = p + kept.size();
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) {
        negative = *p == '-';
        ++p;
    }
    const char* digitsStart = p;
    // One pass checks the shape and gathers the digits: [digits][.digits], nothing else.
    uint64_t m = 0;
    int digits = 0;
    int fraction = 0;
    bool point = false;
    for (const char* q = p; q < end; ++q) {
        const char c = *q;
        if (c >= '0' && c <= '9') {
            m = m * 10 + static_cast<uint64_t>(c - '0');  // wraps only beyond 19 digits
            ++digits;
            fraction += point;
        } else if (c == '.' && !point) {
            point = true;
        } else {
            return false;  // a comma, a second point or a sign inside the number
        }
    }
    if (digits == 0) return ValDouble(kept, value) == 0;
    double v = 0.0;
    if (digits <= 19 && m <= (uint64_t{1} << 53) && fraction <= 22) {
        // Both operands are exact doubles, so the one division rounds correctly.
        v = static_cast<double>(m) / kPow10d[fraction];
    } else {
        auto r = std::from_chars(digitsStart, end, v, std::chars_format::fixed);
        if (r.ec != std::errc() || r.ptr != end) return ValDouble(kept, value) == 0;
    }
    value = negative ? -v : v;
    return true;
}

inline std::size_t FindBlank(std::string_view s) {
    const void* p = std::memchr(s.data(), ' ', s.size());
    return p ? static_cast<std::size_t>(static_cast<const char*>(p) - s.data()) : std::string_view::npos;
}

}  // namespace

// --- line readers ------------------------------------------------------------------

bool ReadPointLine(std::string_view line, double& x, double& y, double& z) {
    std::size_t b = FindBlank(line);
    if (b == std::string_view::npos) return false;
    const bool xOk = FilteredNumber(line.substr(0, b), x);
    std::string_view rest = SkipWhite(line.substr(b + 1));
    b = FindBlank(rest);
    if (b == std::string_view::npos || !xOk) return false;
    const bool yOk = FilteredNumber(rest.substr(0, b), y);
    rest = rest.substr(b + 1);
    // The rest is filtered as a whole, so further columns join the third one.
    bool any = false;
    for (char c : rest)
        if (IsNumberChar(c)) {
            any = true;
            break;
        }
    if (!any) return false;
    const bool zOk = FilteredNumber(rest, z);
    return xOk && yOk && zOk;
}

bool ReadExtentLine(std::string_view line, double& x, double& y) {
    line = SkipWhite(line);
    std::size_t b = FindBlank(line);
    if (b == std::string_view::npos) return false;
    const bool xOk = FilteredNumber(line.substr(0, b), x);
    std::string_view rest = SkipWhite(line.substr(b + 1));
    b = FindBlank(rest);
    if (b == std::string_view::npos || !xOk) return false;
    return FilteredNumber(rest.substr(0, b), y);
}

// --- TextLineReader ----------------------------------------------------------------

struct TextLineReader::Impl {
    int fd = -1;
    std::string path;
    std::unique_ptr<char[]> buf;
    std::size_t cap = 0;
    std::size_t begin = 0;   // start of the unconsumed data
    std::size_t scan = 0;    // LF search goes on from here
    std::size_t end = 0;     // end of valid data
    uint64_t base = 0;       // file offset of buf[0] (past the prefix of a cut line: see Fill)
    bool eof = false;
    std::string side;        // a line with a lone CR, without its CRs

    ~Impl() {
        if (fd >= 0) ::close(fd);
    }

    // Reads the next block behind the unconsumed data; false at the end of the file.
    bool Fill() {
        if (eof) return false;
        if (end - begin > LinePrefixBytes) {
            // The unfinished line is longer than its prefix: keep the prefix, pass over the
            // rest. Only the line's end is looked for from here on, so the offsets of the
            // bytes after the prefix are all that has to stay right.
            const std::size_t dropped = end - begin - LinePrefixBytes;
            std::memmove(buf.get(), buf.get() + begin, LinePrefixBytes);
            base += begin + dropped;
            end = scan = LinePrefixBytes;
            begin = 0;
        } else if (begin > 0) {
            std::memmove(buf.get(), buf.get() + begin, end - begin);
            base += begin;
            scan -= begin;
            end -= begin;
            begin = 0;
        }
        if (end == cap) {  // a small file's buffer, too short for a line that kept growing
            std::size_t ncap = cap * 2;
            std::unique_ptr<char[]> nb(new char[ncap]);
            std::memcpy(nb.get(), buf.get(), end);
            buf = std::move(nb);
            cap = ncap;
        }
        ssize_t n;
        do {
            n = ::read(fd, buf.get() + end, cap - end);
        } while (n < 0 && errno == EINTR);
        if (n < 0) ThrowFileError(errno, path);
        if (n == 0) {
            eof = true;
            return false;
        }
        std::size_t got = static_cast<std::size_t>(n);
        if (const void* sub = std::memchr(buf.get() + end, 0x1A, got)) {
            got = static_cast<std::size_t>(static_cast<const char*>(sub) - (buf.get() + end));
            eof = true;  // Ctrl-Z ends the file; what follows is never looked at
        }
        end += got;
        return true;
    }

    // The line [p, p + len) as delivered: its prefix, without CRs.
    std::string_view Finish(const char* p, std::size_t len) {
        if (len > LinePrefixBytes) len = LinePrefixBytes;
        if (len > 0 && p[len - 1] == '\r') --len;
        const char* cr = static_cast<const char*>(std::memchr(p, '\r', len));
        if (!cr) return std::string_view(p, len);
        side.assign(p, static_cast<std::size_t>(cr - p));
        for (const char* q = cr + 1; q < p + len; ++q)
            if (*q != '\r') side.push_back(*q);
        return side;
    }
};

TextLineReader::TextLineReader(const std::string& path) : impl_(std::make_unique<Impl>()) {
    int fd;
    do {
        // Non-blocking open: a named pipe must not stall the run waiting for a writer.
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) ThrowFileError(errno);
    impl_->fd = fd;
    impl_->path = path;
    std::size_t cap = kBlockSize;
    struct stat st;
    if (::fstat(fd, &st) == 0) {
        if (S_ISDIR(st.st_mode)) ThrowFileError(EISDIR);
        // Pipes and devices are no point files; reading them could block or never end.
        if (!S_ISREG(st.st_mode)) ThrowFileError(EACCES);
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        // Small files need no full block; the buffer still grows (up to the line prefix) when
        // the file grows while it is read.
        if (S_ISREG(st.st_mode) && st.st_size >= 0 && static_cast<uint64_t>(st.st_size) < kBlockSize)
            cap = std::max<std::size_t>(static_cast<std::size_t>(st.st_size) + 1, 4096);
    }
#ifdef POSIX_FADV_SEQUENTIAL
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
    impl_->cap = cap;
    impl_->buf.reset(new char[cap]);
}

TextLineReader::~TextLineReader() = default;

bool TextLineReader::ReadLine(std::string_view& line) {
    Impl& r = *impl_;
    for (;;) {
        const char* data = r.buf.get();
        if (const void* lf = std::memchr(data + r.scan, '\n', r.end - r.scan)) {
            const char* p = data + r.begin;
            std::size_t len = static_cast<std::size_t>(static_cast<const char*>(lf) - p);
            r.begin += len + 1;
            r.scan = r.begin;
            line = r.Finish(p, len);
            return true;
        }
        r.scan = r.end;
        if (!r.Fill()) {
            if (r.begin == r.end) return false;
            // A last line without line end.
            const char* p = r.buf.get() + r.begin;
            std::size_t len = r.end - r.begin;
            r.begin = r.scan = r.end;
            line = r.Finish(p, len);
            return true;
        }
    }
}

uint64_t TextLineReader::BytesRead() const { return impl_->base + impl_->begin; }

}  // namespace tervalo

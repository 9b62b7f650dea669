#include "formats/DbfFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "tools/Datei.h"
#include "tools/Dezimal.h"
#include "tools/Errors.h"

namespace tervalo {

namespace {

constexpr const char* kInvalidDbf = "Invalid DBF file.";
constexpr const char* kWriteError = "Error while writing occurred. (Disk full?)";
constexpr uint32_t kMainHeader = 32;
constexpr uint32_t kLevel7Header = 68;
constexpr uint32_t kMaxFields = 4095;
// Records are read and appended in batches of about this many bytes.
constexpr size_t kBatchBytes = 64 * 1024;

uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Get32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
void Put16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

void StampDate(uint8_t* header) {
    std::time_t now = std::time(nullptr);
    std::tm lt{};
    localtime_r(&now, &lt);
    header[1] = static_cast<uint8_t>(lt.tm_year & 0xFF);  // years since 1900, kept to 8 bits
    header[2] = static_cast<uint8_t>(lt.tm_mon + 1);
    header[3] = static_cast<uint8_t>(lt.tm_mday);
}

[[noreturn]] void ThrowInvalid() { throw EDbfError(kInvalidDbf); }

[[noreturn]] void ThrowFieldCount(size_t n) {
    char buf[96];
    std::snprintf(buf, sizeof buf, "Invalid field count: %zu (must be between 1 and 4095).", n);
    throw EDbfError(buf);
}

bool IsKnownType(uint8_t t) {
    switch (t) {
        case 'C': case 'N': case 'F': case 'L': case 'D': case 'M': case 'B': case 'G':
        case 'I': case 'O': case 'T': case 'Y': case 0x40: case 0x2B: case 0x30: case 0x91:
            return true;
        default:
            return false;
    }
}

char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// The path a table reports: absolute and normalised, or as given when that fails.
std::string ReportedPath(const std::string& path) {
    std::error_code ec;
    auto abs = std::filesystem::absolute(path, ec);
    return ec ? path : abs.lexically_normal().string();
}

bool FileExists(const std::string& p) {
    struct stat st {};
    return ::stat(p.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

// Parses the trimmed text of a numeric field. Grammar: [sign] digits [. digits] [e [sign] digits],
// at least one mantissa digit; anything else reads as 0.
double ParseNumber(const char* p, const char* end) {
    double v = 0.0;
    if (dezimal::ReadPlain(p, end, v)) return v;
    const char* s = p;
    if (s < end && (*s == '+' || *s == '-')) ++s;
    const char* mant = s;
    int digits = 0;
    while (s < end && *s >= '0' && *s <= '9') ++s, ++digits;
    if (s < end && *s == '.') {
        ++s;
        while (s < end && *s >= '0' && *s <= '9') ++s, ++digits;
    }
    if (digits == 0) return 0.0;
    if (s < end && (*s == 'e' || *s == 'E')) {
        ++s;
        if (s < end && (*s == '+' || *s == '-')) ++s;
        const char* e = s;
        while (s < end && *s >= '0' && *s <= '9') ++s;
        if (s == e) return 0.0;
    }
    if (s != end) return 0.0;
    // from_chars takes no '+'; the sign is applied here instead.
    auto r = std::from_chars(mant, end, v);
    if (r.ec != std::errc{} || r.ptr != end) return 0.0;
    return (*p == '-') ? -v : v;
}

double ParseInteger(const char* p, const char* end) {
    const char* s = p;
    bool neg = false;
    if (s < end && (*s == '+' || *s == '-')) neg = (*s++ == '-');
    if (s == end) return 0.0;
    long long v = 0;
    for (; s < end; ++s) {
        if (*s < '0' || *s > '9') return 0.0;
        v = v * 10 + (*s - '0');
        if (v > 0x7FFFFFFF) return 0.0;  // outside a 32-bit integer: no valid integer
    }
    return static_cast<double>(neg ? -v : v);
}

std::optional<double> ParseField(const TDbfFieldDef& f, const uint8_t* rec) {
    const char* p = reinterpret_cast<const char*>(rec + f.Offset);
    const char* end = p + f.Size;
    while (end > p && end[-1] == ' ') --end;
    while (p < end && *p == ' ') ++p;
    if (p == end) return std::nullopt;
    bool numeric = f.NativeFieldType == 'N' || f.NativeFieldType == 'F';
    if (numeric && f.Precision == 0 && f.Size <= 4) return ParseInteger(p, end);
    return ParseNumber(p, end);
}

// Scientific text that fits into `length` characters, as many digits as room allows.
size_t ScientificText(double v, int length, char* out) {
    const dezimal::TEntwicklung x = dezimal::Expand(v);
    for (int prec = std::min(length, 18); prec >= 1; --prec) {
        uint64_t m = dezimal::RoundDrop(x.Digits, 18 - prec);
        int ex = x.IntDigits() - 1;
        if (m == dezimal::kPow10[prec]) {  // 9.99 -> 10.0: one digit more before the point
            m = dezimal::kPow10[prec - 1];
            ++ex;
        }
        char digits[18];
        for (int i = prec - 1; i >= 0; --i, m /= 10) digits[i] = static_cast<char>('0' + m % 10);
        size_t n = 0;
        if (v < 0) out[n++] = '-';
        out[n++] = digits[0];
        if (prec > 1) {
            out[n++] = '.';
            std::memcpy(out + n, digits + 1, static_cast<size_t>(prec - 1));
            n += static_cast<size_t>(prec - 1);
        }
        n += static_cast<size_t>(std::snprintf(out + n, 8, "E%c%02d", ex < 0 ? '-' : '+', std::abs(ex)));
        if (static_cast<int>(n) <= length) return n;
    }
    // Not even one digit with its exponent fits: mark the overflow as dBase programs do.
    std::memset(out, '*', static_cast<size_t>(length));
    return static_cast<size_t>(length);
}

// Writes the unaligned field text into out (room for 2 * 255 + 8 characters); returns its length.
size_t FieldText(double v, int length, int decimals, char* out) {
    const dezimal::TEntwicklung x = dezimal::Expand(v);
    if (x.IntDigits() > length) return ScientificText(v, length, out);
    // One rounding, at whichever comes first: L significant digits or D decimals.
    const int keep = std::min(length, x.IntDigits() + decimals);
    const dezimal::TSkaliert s = keep >= 18 ? dezimal::TSkaliert{x.Digits, x.Exp10 + decimals}
                                         : dezimal::TSkaliert{dezimal::RoundDrop(x.Digits, 18 - keep),
                                                           x.IntDigits() - keep + decimals};
    size_t n = 0;
    if (v < 0 && s.N != 0) out[n++] = '-';
    // An integer part that does not fit would lose its leading digits when cut.
    if (static_cast<int>(n) + dezimal::ScaledIntDigits(s, decimals) > length) return ScientificText(v, length, out);
    n = static_cast<size_t>(dezimal::WriteScaled(out + n, s, decimals, '.') - out);
    return std::min(n, static_cast<size_t>(length));
}

// Fills a field of `length` bytes with the right-aligned text of v.
void WriteField(double v, int length, int decimals, char* field) {
    std::memset(field, ' ', static_cast<size_t>(length));
    if (!std::isfinite(v)) return;  // no number to store: the field stays without value
    char text[2 * 255 + 16];
    size_t n = FieldText(v, length, std::clamp(decimals, 0, 255), text);
    std::memcpy(field + length - static_cast<int>(n), text, n);
}

}  // namespace

// ---------------------------------------------------------------------------------------------

void TDbfFieldDef::Set(char type, int size, int precision) {
    NativeFieldType = UpperAscii(type);
    if (NativeFieldType == 'N' || NativeFieldType == 'F') {
        Size = std::clamp(size, 1, 20);
        Precision = std::clamp(precision, 0, std::max(0, Size - 2));
    } else {
        // One byte each in the descriptor.
        Size = std::clamp(size, 1, 255);
        Precision = std::clamp(precision, 0, 255);
    }
}

std::vector<TDbfFieldDef> XyzFieldDefs() {
    std::vector<TDbfFieldDef> defs(3);
    const char* names[] = {"X", "Y", "Z"};
    for (size_t i = 0; i < 3; ++i) {
        defs[i].FieldName = names[i];
        defs[i].Set('N', 14, 5);
    }
    return defs;
}

std::string NumericFieldText(double v, int length, int decimals) {
    length = std::clamp(length, 0, 255);
    std::string field(static_cast<size_t>(length), ' ');
    if (length > 0) WriteField(v, length, decimals, field.data());
    return field;
}

std::string VersionName(TDbfVersion v) {
    switch (v) {
        case TDbfVersion::NotOpen: return "unbekannt";
        case TDbfVersion::Clipper: return "Clipper";
        case TDbfVersion::DBase3: return "dBase 3";
        case TDbfVersion::DBase4: return "dBase 4";
        case TDbfVersion::DBase5: return "dBase 5";
        case TDbfVersion::FoxPro: return "FoxPro";
        case TDbfVersion::DBase7: return "dBase 7";
    }
    return "unbekannt";
}

std::string OpenModeName(TDbfOpenMode m) {
    switch (m) {
        case TDbfOpenMode::NotOpen: return "None";
        case TDbfOpenMode::CreateMemory: return "MemoryCreate";
        case TDbfOpenMode::OpenMemory: return "MemoryOpen";
        case TDbfOpenMode::CreateExclusive: return "ExclusiveCreate";
        case TDbfOpenMode::OpenExclusive: return "ExclusiveOpen";
        case TDbfOpenMode::CreateShared: return "ReadWriteCreate";
        case TDbfOpenMode::OpenShared: return "ReadWriteOpen";
        case TDbfOpenMode::OpenReadOnly: return "ReadOnly";
    }
    return "None";
}

// ---------------------------------------------------------------------------------------------

struct TDbfFile::Impl {
    TDateiHandle file;
    std::string path;
    TDbfOpenMode mode = TDbfOpenMode::NotOpen;
    TDbfVersion version = TDbfVersion::NotOpen;
    uint8_t header[kMainHeader] = {};
    uint32_t headerLen = 0;
    uint32_t recordLen = 0;
    uint32_t count = 0;  // physical records, appended ones included
    std::vector<TDbfFieldDef> fields;

    // Walking: a window of whole records read with one pread.
    std::vector<uint8_t> buf;
    uint32_t bufFirst = 0;  // record number of buf[0]
    uint32_t bufCount = 0;
    uint32_t cur = 0;       // current record number; > count at the end
    const uint8_t* rec = nullptr;

    // Appending: records not yet written, numbered from pendFirst.
    std::vector<uint8_t> pend;
    uint32_t pendFirst = 0;
    uint32_t pendCount = 0;
    bool writeFailed = false;

    // The steps of opening. Returns the file's size; checks the file kind, reads and
    // classifies the main header and takes the two lengths.
    uint64_t ReadMainHeader(const std::string& given);
    void ReadFieldDescriptors(uint64_t size);
    void CountRecords(uint64_t size);

    uint64_t RecordOffset(uint32_t number) const {
        return headerLen + static_cast<uint64_t>(number - 1) * recordLen;
    }

    void Flush() {
        if (pendCount == 0) return;
        bool ok = WriteAt(file.Fd(), pend.data(), pend.size(), RecordOffset(pendFirst));
        if (!ok) {
            // The records of this batch were counted; take them back before reporting.
            count -= pendCount;
            writeFailed = true;
        }
        pend.clear();
        pendCount = 0;
        if (!ok) throw EDbfError(kWriteError);
    }

    // Main header with today's date and the 0x1A byte after the last record.
    bool WriteHeader() {
        Put32(header + 4, count);
        StampDate(header);
        const uint8_t eof = 0x1A;
        return WriteAt(file.Fd(), header, kMainHeader, 0) && WriteAt(file.Fd(), &eof, 1, RecordOffset(count + 1));
    }

    void Load(uint32_t number) {
        size_t perBatch = std::max<size_t>(1, kBatchBytes / recordLen);
        uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(perBatch, count - number + 1ULL));
        buf.resize(static_cast<size_t>(n) * recordLen);
        size_t got = ReadAt(file.Fd(), buf.data(), buf.size(), RecordOffset(number));
        bufFirst = number;
        bufCount = static_cast<uint32_t>(got / recordLen);
        // Another program may have shortened the file meanwhile: end the walk there.
        if (bufCount < n) count = number - 1 + bufCount;
    }

    void Seek(uint32_t number) {
        rec = nullptr;
        for (cur = number; cur <= count; ++cur) {
            if (cur < bufFirst || cur >= bufFirst + bufCount) {
                Load(cur);
                if (cur > count) break;
            }
            const uint8_t* r = buf.data() + static_cast<size_t>(cur - bufFirst) * recordLen;
            if (r[0] != '*') {
                rec = r;
                return;
            }
        }
    }
};

TDbfFile::TDbfFile() = default;

TDbfFile::~TDbfFile() {
    try {
        Close();
    } catch (...) {
        // A destructor cannot report; callers that care call Close themselves.
    }
}

bool TDbfFile::IsOpen() const { return impl_ != nullptr; }

void TDbfFile::Close() {
    if (impl_ == nullptr) return;
    // The table is released whatever happens below.
    const std::unique_ptr<Impl> held = std::move(impl_);
    Impl& d = *held;
    bool ok = true;
    if (d.mode == TDbfOpenMode::OpenShared) {
        try {
            d.Flush();
        } catch (const EDbfError&) {
            ok = false;
        }
        ok = d.WriteHeader() && ok;
        // After a failed batch, drop its partial bytes so no half record is counted later.
        if (d.writeFailed) ok = ::ftruncate(d.file.Fd(), static_cast<off_t>(d.RecordOffset(d.count + 1) + 1)) == 0 && ok;
    }
    ok = d.file.Close() == 0 && ok;
    if (!ok) throw EDbfError(kWriteError);
}

// The table held so far is closed first, also when the new one then cannot be opened.
void TDbfFile::OpenRead(const std::string& path) {
    Close();
    Open(OpenFile(path, true), path, true);
}
void TDbfFile::OpenRead(TDateiHandle file, const std::string& path) { Open(std::move(file), path, true); }
void TDbfFile::OpenShared(const std::string& path) {
    Close();
    Open(OpenFile(path, false), path, false);
}

TDateiHandle TDbfFile::OpenFile(const std::string& path, bool readOnly) {
    // O_NONBLOCK: a FIFO given as table must not hang the program; it is refused below.
    TDateiHandle file(::open(path.c_str(), (readOnly ? O_RDONLY : O_RDWR) | O_CLOEXEC | O_NONBLOCK));
    if (!file) ThrowFileError(errno);
    return file;
}

uint64_t TDbfFile::Impl::ReadMainHeader(const std::string& given) {
    const int fd = file.Fd();
    struct stat st {};
    if (::fstat(fd, &st) != 0) ThrowFileError(errno);
    if (S_ISDIR(st.st_mode)) ThrowFileError(EISDIR);
    if (!S_ISREG(st.st_mode)) ThrowInvalid();
    const uint64_t size = static_cast<uint64_t>(st.st_size);
    if (size < kMainHeader || ReadAt(fd, header, kMainHeader, 0) < kMainHeader) ThrowInvalid();

    const uint8_t v = header[0];
    if ((v & 7) == 3) version = header[29] != 0 ? TDbfVersion::DBase4 : TDbfVersion::DBase3;
    else if ((v & 7) == 4) version = TDbfVersion::DBase7;
    else if ((v & 7) == 2 || (v & 7) == 5) version = TDbfVersion::FoxPro;
    else if (v == 0x30 || v == 0x31 || v == 0xF5 || v == 0xFB) version = TDbfVersion::FoxPro;
    else ThrowInvalid();

    headerLen = Get16(header + 8);
    recordLen = Get16(header + 10);
    if (headerLen == 0 || recordLen == 0) throw ESilentAbort("Ung\xC3\xBCltige dBase-Tabelle (Kopf- oder Satzl\xC3\xA4nge 0): " + given);
    return size;
}

void TDbfFile::Impl::ReadFieldDescriptors(uint64_t size) {
    // Every length is checked against the file before it is used.
    const bool level7 = version == TDbfVersion::DBase7;
    const uint32_t base = level7 ? kLevel7Header : kMainHeader;
    const uint32_t descSize = level7 ? 48 : 32;
    if (headerLen < base + 1 || headerLen > size) ThrowInvalid();
    std::vector<uint8_t> hdr(headerLen);
    if (ReadAt(file.Fd(), hdr.data(), hdr.size(), 0) < hdr.size()) ThrowInvalid();

    const uint32_t maxDesc = (headerLen - base) / descSize;
    uint32_t offset = 1;
    for (uint32_t i = 0; i < maxDesc; ++i) {
        const uint8_t* p = hdr.data() + base + i * descSize;
        if (p[0] == 0x0D) break;
        if (fields.size() >= kMaxFields) ThrowFieldCount(maxDesc);
        const size_t nameMax = level7 ? 32 : 11;
        const uint8_t* zero = static_cast<const uint8_t*>(std::memchr(p, 0, nameMax));
        const size_t nameLen = zero ? static_cast<size_t>(zero - p) : nameMax;
        TDbfFieldDef f;
        for (size_t k = 0; k < nameLen; ++k) f.FieldName += UpperAscii(static_cast<char>(p[k]));
        // A lower-case type letter reads as upper case ('n' is 'N').
        const uint8_t type = static_cast<uint8_t>(UpperAscii(static_cast<char>(level7 ? p[32] : p[11])));
        // Length and decimals are taken as stored; peers write N fields longer than 20.
        f.NativeFieldType = static_cast<char>(type);
        f.Size = level7 ? p[33] : p[16];
        f.Precision = level7 ? p[34] : p[17];
        if (f.FieldName.empty() || !IsKnownType(type)) ThrowInvalid();
        f.Offset = static_cast<int>(offset);
        offset += static_cast<uint32_t>(f.Size);
        if (offset > recordLen) ThrowInvalid();  // the field would reach past the record
        fields.push_back(std::move(f));
    }
}

void TDbfFile::Impl::CountRecords(uint64_t size) {
    const uint64_t physical = (size - headerLen) / recordLen;
    count = static_cast<uint32_t>(std::min<uint64_t>(physical, 0xFFFFFFFEULL));
}

void TDbfFile::Open(TDateiHandle file, const std::string& path, bool readOnly) {
    Close();
    // Until it is complete the table belongs to this function: a failure closes the file.
    auto d = std::make_unique<Impl>();
    d->file = std::move(file);
    const uint64_t size = d->ReadMainHeader(path);
    d->ReadFieldDescriptors(size);
    d->CountRecords(size);
    d->mode = readOnly ? TDbfOpenMode::OpenReadOnly : TDbfOpenMode::OpenShared;
    d->path = ReportedPath(path);
    if (!readOnly) {
        // A table written back must not claim an index that is not there; the cleared flag
        // reaches the file at closing. Only tables opened for writing look for one.
        if (d->header[28] != 0 && FindProductionIndex(path).empty()) d->header[28] = 0;
        if (Get32(d->header + 4) != d->count && !d->WriteHeader()) throw EDbfError(kWriteError);
    }
    impl_ = std::move(d);
}

std::string FindProductionIndex(const std::string& tablePath) {
    // "<name>.mdx" beside the table; ".MDX" too, names are case-sensitive here.
    std::string stem = tablePath;
    const size_t slash = stem.find_last_of('/');
    const size_t dot = stem.find_last_of('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) stem.resize(dot);
    for (const char* ext : {".mdx", ".MDX"})
        if (FileExists(stem + ext)) return stem + ext;
    return {};
}

// Header, descriptors, 0x0D and the end byte of a new table without records.
std::vector<uint8_t> TDbfFile::NewTableBytes(int tableLevel, std::vector<TDbfFieldDef>& fields) {
    if (tableLevel == 3 || tableLevel == 4 || tableLevel == 7) tableLevel_ = tableLevel;
    bool level7 = tableLevel_ == 7;
    uint32_t base = level7 ? kLevel7Header : kMainHeader;
    uint32_t descSize = level7 ? 48 : 32;
    if (fields.empty() || fields.size() > kMaxFields) ThrowFieldCount(fields.size());

    uint32_t recordLen = 1;
    for (auto& f : fields) {
        f.Set(f.NativeFieldType, f.Size, f.Precision);
        std::string name;
        for (char c : f.FieldName) name += UpperAscii(c);
        f.FieldName = name.substr(0, level7 ? 31 : 10);
        f.Offset = static_cast<int>(recordLen);
        recordLen += static_cast<uint32_t>(f.Size);
    }
    uint64_t headerLen = base + static_cast<uint64_t>(fields.size()) * descSize + 1;
    // Both lengths are 16-bit in the header.
    if (headerLen > 0xFFFF || recordLen > 0xFFFF) ThrowFieldCount(fields.size());

    std::vector<uint8_t> bytes(headerLen + 1, 0);
    uint8_t* h = bytes.data();
    uint8_t driver = CreationLanguageDriver(Language.CodePage, Language.LocaleId);
    h[0] = level7 ? 0x04 : 0x03;
    StampDate(h);
    Put16(h + 8, static_cast<uint32_t>(headerLen));
    Put16(h + 10, recordLen);
    if (tableLevel_ == 4) h[29] = driver;
    if (level7) {
        std::string name = LanguageDriverName(driver).substr(0, 31);
        std::memcpy(h + 32, name.data(), name.size());
    }
    for (size_t i = 0; i < fields.size(); ++i) {
        uint8_t* p = h + base + i * descSize;
        const auto& f = fields[i];
        std::memcpy(p, f.FieldName.data(), f.FieldName.size());
        size_t at = level7 ? 32 : 11;
        p[at] = static_cast<uint8_t>(f.NativeFieldType);
        p[level7 ? 33 : 16] = static_cast<uint8_t>(f.Size);
        p[level7 ? 34 : 17] = static_cast<uint8_t>(f.Precision);
    }
    bytes[headerLen - 1] = 0x0D;
    bytes[headerLen] = 0x1A;
    return bytes;
}

void TDbfFile::CreateTable(TSichereDatei& file, int tableLevel, std::vector<TDbfFieldDef> fields) {
    Close();
    std::vector<uint8_t> bytes = NewTableBytes(tableLevel, fields);
    auto d = std::make_unique<Impl>();
    // A descriptor of its own, so that closing the table leaves the caller's file open.
    d->file.Reset(::fcntl(file.Fd(), F_DUPFD_CLOEXEC, 0));
    if (!d->file) ThrowFileError(errno, file.Target());
    if (!WriteAt(d->file.Fd(), bytes.data(), bytes.size(), 0)) throw EDbfError(kWriteError);
    // The table as made, the state opening it would find.
    std::memcpy(d->header, bytes.data(), kMainHeader);
    d->headerLen = Get16(d->header + 8);
    d->recordLen = Get16(d->header + 10);
    d->version = tableLevel_ == 7 ? TDbfVersion::DBase7 : d->header[29] != 0 ? TDbfVersion::DBase4 : TDbfVersion::DBase3;
    d->fields = std::move(fields);
    d->mode = TDbfOpenMode::OpenShared;
    d->path = ReportedPath(file.Target());
    impl_ = std::move(d);
}

uint32_t TDbfFile::RecordCount() const { return IsOpen() ? impl_->count : 0; }

void TDbfFile::First() {
    if (!IsOpen()) return;
    impl_->Flush();
    impl_->Seek(1);
}

void TDbfFile::Next() {
    if (!IsOpen() || impl_->cur > impl_->count) return;
    impl_->Flush();  // records still held back must be in the file before they are read
    impl_->Seek(impl_->cur + 1);
}

bool TDbfFile::AtEnd() const { return !IsOpen() || impl_->rec == nullptr; }

std::optional<double> TDbfFile::FieldAsNumber(int index) const {
    int n = FieldCount();
    if (index < 0 || index >= n) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "List index out of bounds (%d)", index);
        throw EDbfError(buf);
    }
    if (impl_->rec == nullptr) return std::nullopt;
    return ParseField(impl_->fields[static_cast<size_t>(index)], impl_->rec);
}

uint32_t TDbfFile::RecordNumber() const { return (IsOpen() && impl_->rec) ? impl_->cur : 0; }

int TDbfFile::FieldCount() const { return IsOpen() ? static_cast<int>(impl_->fields.size()) : 0; }

const std::vector<TDbfFieldDef>& TDbfFile::Fields() const {
    static const std::vector<TDbfFieldDef> none;
    return IsOpen() ? impl_->fields : none;
}

void TDbfFile::AppendRecord(double x, double y, double z) {
    if (!IsOpen() || impl_->mode != TDbfOpenMode::OpenShared)
        throw EDbfError("Table is not open for writing.");
    Impl& d = *impl_;
    if (d.count >= 0xFFFFFFFEU) throw EDbfError(kWriteError);
    if (d.pendCount == 0) d.pendFirst = d.count + 1;
    size_t at = d.pend.size();
    d.pend.resize(at + d.recordLen, ' ');
    uint8_t* r = d.pend.data() + at;
    const double values[3] = {x, y, z};
    size_t n = std::min<size_t>(3, d.fields.size());
    for (size_t i = 0; i < n; ++i) {
        const auto& f = d.fields[i];
        if (f.Size > 0) WriteField(values[i], f.Size, f.Precision, reinterpret_cast<char*>(r + f.Offset));
    }
    ++d.pendCount;
    ++d.count;
    d.rec = nullptr;  // a walk starts again with First
    d.bufCount = 0;
    if (d.pend.size() >= kBatchBytes) d.Flush();
}

void TDbfFile::DiscardRecordsAfter(uint32_t count) {
    if (!IsOpen() || impl_->mode != TDbfOpenMode::OpenShared)
        throw EDbfError("Table is not open for writing.");
    Impl& d = *impl_;
    if (count >= d.count) return;
    if (d.pendCount > 0 && count + 1 >= d.pendFirst) {
        // Only records still held back go.
        d.pendCount = count + 1 - d.pendFirst;
        d.pend.resize(static_cast<size_t>(d.pendCount) * d.recordLen);
    } else {
        d.pend.clear();
        d.pendCount = 0;
        // Cut what was written; Close puts the end byte behind the last record kept.
        if (::ftruncate(d.file.Fd(), static_cast<off_t>(d.RecordOffset(count + 1))) != 0) throw EDbfError(kWriteError);
    }
    d.count = count;
    d.rec = nullptr;
    d.bufCount = 0;
}

TDbfVersion TDbfFile::TableVersion() const { return IsOpen() ? impl_->version : TDbfVersion::NotOpen; }
TDbfOpenMode TDbfFile::OpenMode() const { return IsOpen() ? impl_->mode : TDbfOpenMode::NotOpen; }
bool TDbfFile::IsExclusive() const { return false; }
bool TDbfFile::ProductionIndexFlag() const { return IsOpen() && impl_->header[28] != 0; }
std::string TDbfFile::Path() const { return IsOpen() ? impl_->path : std::string(); }

}  // namespace tervalo

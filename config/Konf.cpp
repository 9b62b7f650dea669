#include "config/Konf.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <climits>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "tools/Errors.h"
#include "tools/Tools.h"

namespace tervalo {

namespace {

// The file's lines: LF or CR LF ends a line, stray CRs are dropped, 0x1A ends the file.
class LineSource {
public:
    explicit LineSource(std::string_view data) {
        std::size_t eof = data.find('\x1A');
        if (eof != std::string_view::npos) data = data.substr(0, eof);
        std::size_t start = 0;
        while (start < data.size()) {
            std::size_t lf = data.find('\n', start);
            std::size_t end = lf == std::string_view::npos ? data.size() : lf;
            std::string line;
            line.reserve(end - start);
            for (std::size_t i = start; i < end; ++i)
                if (data[i] != '\r') line.push_back(data[i]);
            lines_.push_back(std::move(line));
            start = end + 1;
        }
    }
    bool Eof() const { return next_ >= lines_.size(); }
    // At the end an empty line.
    std::string Read() { return Eof() ? std::string() : lines_[next_++]; }

private:
    std::vector<std::string> lines_;
    std::size_t next_ = 0;
};

// Reads a whole file. False when it cannot be opened (missing, no access, not a file);
// a read error after opening throws.
bool ReadWholeFile(const std::string& path, std::string& out) {
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    out.clear();
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            int err = errno;
            ::close(fd);
            ThrowFileError(err);
        }
        if (n == 0) break;
        out.append(buf, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return true;
}

double SettingValue(const std::string& line, std::size_t chars) {
    double v = 0.0;
    ValDouble(NumberChars(std::string_view(line).substr(0, std::min(chars, line.size()))), v);
    return v;
}

bool HasFolderPart(const std::string& path) {
    for (char c : path)
        if (IsFolderSeparator(c)) return true;
    return false;
}

void AppendLine(std::string& out, std::string_view text) {
    out.append(text);
    out.append("\r\n");
}

void AppendCommented(std::string& out, const std::string& value, const char* comment) {
    out.append(PadRight(value, 20));
    out.append(comment);
    out.append("\r\n");
}

void AppendWidths(std::string& out, const int32_t (&list)[11]) {
    for (int32_t w : list) {
        out.append(std::to_string(w));
        out.push_back('\t');
    }
    out.append("\r\n");
}

// 0 or the errno of the failed write.
int WriteAll(int fd, const std::string& text) {
    const char* p = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    return 0;
}

}  // namespace

namespace {

// Shortest text that reads back as the same double, at least one decimal, local separator.
std::string ShowNumber(double v, char sep) {
    char buf[40];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    std::string t(buf, r.ptr);
    if (std::isfinite(v) && t.find_first_of(".e") == std::string::npos) t += ".0";
    for (char& c : t)
        if (c == '.') c = sep;
    return t;
}

std::string ShowWidths(const int32_t (&list)[11]) {
    std::string t;
    for (int32_t w : list) {
        if (!t.empty()) t += ' ';
        t += std::to_string(w);
    }
    return t;
}

}  // namespace

std::string KonfListing(const TSettings& settings, const TDateien& dateien, char sep) {
    std::string out;
    out += "Rasterabstand:    " + ShowNumber(settings.Rasterabstand, sep) + "\n";
    out += "Fangbreite:       " + ShowNumber(settings.Fangbreite, sep) + "\n";
    out += "Potenz:           " + ShowNumber(settings.Potenz, sep) + "\n";
    out += "DBFVersion:       " + std::to_string(settings.DBFVersion) + "\n";
    out += "GridBreiten:      " + ShowWidths(settings.GridBreiten) + "\n";
    out += "DateiGridBreiten: " + ShowWidths(settings.DateiGridBreiten) + "\n";
    const int n = std::min<int>(dateien.Anzahl, MaxDateien);
    out += "Dateien:          " + std::to_string(n) + "\n";
    for (int i = 1; i <= n; ++i) {
        const auto k = static_cast<std::size_t>(i);
        out += std::to_string(i) + ": " + dateien.Datei[k] + "  Xmin " + ShowNumber(dateien.Xmin[k], sep) +
               "  Xmax " + ShowNumber(dateien.Xmax[k], sep) + "  Ymin " + ShowNumber(dateien.Ymin[k], sep) +
               "  Ymax " + ShowNumber(dateien.Ymax[k], sep) + "\n";
    }
    return out;
}

GridWidthHooks GridHooksFor(TextGrid& grid) {
    GridWidthHooks h;
    h.colCount = grid.ColCount();
    h.headingWidth = [&grid](int col) { return grid.TextWidth(grid.Cell(col, 0)); };
    h.setColWidth = [&grid](int col, int width) { grid.SetColWidth(col, width); };
    h.colWidth = [&grid](int col) { return grid.ColWidth(col); };
    return h;
}

std::string KonfFileFor(const std::string& programPath) {
    return FolderPart(programPath) + NameWithoutExt(programPath) + ".KNF";
}

void KonfLoad(const std::string& path, const std::string& programFolder, TSettings& settings,
              TDateien& dateien, const GridWidthHooks* grid) {
    std::string data;
    if (!ReadWholeFile(path, data)) return;
    LineSource in(data);

    std::string s = in.Read();  // version line, never looked at
    double* values[] = {&settings.Rasterabstand, &settings.Fangbreite, &settings.Potenz};
    for (double* v : values) {
        if (in.Eof()) continue;
        s = in.Read();
        *v = SettingValue(s, 5);
    }
    if (!in.Eof()) {
        s = in.Read();
        int32_t v = 0;
        ValInt(IntegerChars(std::string_view(s).substr(0, std::min<std::size_t>(5, s.size()))), v);
        settings.DBFVersion = v;
    }
    if (!in.Eof()) {
        s = in.Read();
        if (ParseIntList(s, '\t', settings.GridBreiten) > 0 && grid) {
            // Only widen: a stored width below the heading's own width is not applied.
            for (int col = 0; col < grid->colCount && col < 11; ++col) {
                const int stored = settings.GridBreiten[col];
                if (grid->headingWidth && grid->setColWidth && grid->headingWidth(col) < stored)
                    grid->setColWidth(col, stored);
            }
        }
    }
    if (!in.Eof()) {
        s = in.Read();
        ParseIntList(s, '\t', settings.DateiGridBreiten);
    }

    // Catalogue section: the first line whose first four characters read "[DAT" in any case.
    for (;;) {
        if (ToUpper(std::string_view(s).substr(0, std::min<std::size_t>(4, s.size()))) == "[DAT") break;
        if (in.Eof()) break;
        s = TrimLeft(in.Read());
    }
    if (s.empty() || s[0] != '[') return;

    std::string folder = programFolder;
    if (!folder.empty() && !IsFolderSeparator(folder.back())) folder.push_back('/');

    int count = 0;
    dateien.Anzahl = 0;
    while (!in.Eof()) {
        while (!s.starts_with("#D") && !in.Eof()) s = in.Read();
        if (s.empty() || s[0] != '#') continue;
        if (count >= MaxDateien) break;  // the record holds no more; the rest is ignored
        ++count;
        s = in.Read();
        std::string entry = Trim(s);
        if (!IsValidFileName(entry)) {
            --count;
            continue;
        }
        dateien.Datei[count] = HasFolderPart(entry) ? entry : folder + "Daten/" + entry;
        double* extents[] = {&dateien.Xmin[count], &dateien.Xmax[count], &dateien.Ymin[count],
                             &dateien.Ymax[count]};
        for (double* e : extents) {
            if (in.Eof()) break;
            s = in.Read();
            *e = SettingValue(s, 12);
        }
        dateien.Anzahl = static_cast<uint8_t>(count);
    }
    dateien.Anzahl = static_cast<uint8_t>(count);
}

std::string KonfText(const TSettings& settings, const TDateien& dateien) {
    std::string out;
    const int n = std::min<int>(dateien.Anzahl, MaxDateien);
    out.reserve(512 + static_cast<std::size_t>(n) * 200);
    AppendLine(out, std::string("VERSION   ") + Version);
    AppendCommented(out, FixedText(settings.Rasterabstand, 4, 1), "; Standard-Rasterabstand der Rohdaten [m]");
    AppendCommented(out, FixedText(settings.Fangbreite, 5, 1), "; zu betrachtende Breite um den Messpunkt [m]");
    // The file is Windows-1252: 0xFC is the "ü".
    AppendCommented(out, FixedText(settings.Potenz, 3, 1),
                    "; Potenz f\xFCr Wichtung bei Extrapolation (Verfahren nach Shepard)");
    AppendCommented(out, std::to_string(settings.DBFVersion), "; dBase Export-Version");
    AppendWidths(out, settings.GridBreiten);
    AppendWidths(out, settings.DateiGridBreiten);
    AppendLine(out, "[DATEIEN]");
    for (int i = 1; i <= n; ++i) {
        const auto idx = static_cast<std::size_t>(i);
        AppendLine(out, "#DATEI " + std::to_string(i));
        AppendLine(out, dateien.Datei[idx]);
        AppendCommented(out, FixedText(dateien.Xmin[idx], 10, 2), "; Xmin");
        AppendCommented(out, FixedText(dateien.Xmax[idx], 10, 2), "; Xmax");
        AppendCommented(out, FixedText(dateien.Ymin[idx], 10, 2), "; Ymin");
        AppendCommented(out, FixedText(dateien.Ymax[idx], 10, 2), "; Ymax");
    }
    return out;
}

int KonfSave(const std::string& path, TSettings& settings, const TDateien& dateien,
              const GridWidthHooks* grid) {
    if (grid && grid->colWidth)
        for (int col = 0; col < grid->colCount && col < 11; ++col) settings.GridBreiten[col] = grid->colWidth(col);
    const std::string text = KonfText(settings, dateien);

    // A symbolic link stays a link: the file it points to is replaced.
    std::string target = path;
    struct stat lst {};
    if (::lstat(path.c_str(), &lst) == 0 && S_ISLNK(lst.st_mode)) {
        if (char* real = ::realpath(path.c_str(), nullptr)) {
            target = real;
            std::free(real);
        }
    }

    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = target + ".tmp" + std::to_string(::getpid()) + "_" + std::to_string(attempt);
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) return errno;  // cannot be created: nothing saved
    }
    if (fd < 0) return EEXIST;

    struct stat old {};
    if (::stat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode)) ::fchmod(fd, old.st_mode & 07777);

    int err = WriteAll(fd, text);
    if (err == 0 && ::fsync(fd) != 0 && errno != EINVAL && errno != EROFS) err = errno;
    if (::close(fd) != 0 && err == 0 && errno != EINTR) err = errno;
    if (err == 0 && ::rename(temp.c_str(), target.c_str()) != 0) err = errno;
    if (err != 0) {
        ::unlink(temp.c_str());
        ThrowFileError(err);
    }
    return 0;
}

}  // namespace tervalo

#include "config/Konf.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <optional>
#include <string_view>

#include "formats/TextPoints.h"
#include "ordner/Kacheln.h"
#include "tools/Errors.h"
#include "tools/SafeWriter.h"
#include "tools/Tools.h"

namespace tervalo {

namespace {

// The file's lines through the block reader, one line ahead so that the end is known before
// a line is taken. LF or CR LF ends a line, stray CRs are dropped, 0x1A ends the file.
class LineSource {
public:
    explicit LineSource(const std::string& path) : reader_(path) { Advance(); }
    bool Eof() const { return !has_; }
    // At the end an empty line.
    std::string Read() {
        if (!has_) return std::string();
        std::string line = std::move(next_);
        Advance();
        return line;
    }

private:
    void Advance() {
        std::string_view v;
        has_ = reader_.ReadLine(v);
        next_.assign(has_ ? v : std::string_view());
    }
    TZeilenLeser reader_;
    std::string next_;
    bool has_ = false;
};

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

std::string KachelnText(std::size_t n) { return std::to_string(n) + (n == 1 ? " Kachel" : " Kacheln"); }

std::string KonfListing(const TSettings& settings, const TDateien& dateien, char sep) {
    return KonfListing(settings, dateien, sep, {});
}

std::string KonfListing(const TSettings& settings, const TDateien& dateien, char sep,
                        const std::function<std::optional<std::size_t>(int eintrag)>& ordnerKacheln) {
    std::string out;
    out += "Rasterabstand:    " + ShowNumber(settings.Rasterabstand, sep) + "\n";
    out += "Fangbreite:       " + ShowNumber(settings.Fangbreite, sep) + "\n";
    out += "Potenz:           " + ShowNumber(settings.Potenz, sep) + "\n";
    out += "DBFVersion:       " + std::to_string(settings.DBFVersion) + "\n";
    out += "GridBreiten:      " + ShowWidths(settings.GridBreiten) + "\n";
    out += "DateiGridBreiten: " + ShowWidths(settings.DateiGridBreiten) + "\n";
    const int n = dateien.Eintraege();
    out += "Dateien:          " + std::to_string(n) + "\n";
    for (int i = 1; i <= n; ++i) {
        const auto k = static_cast<std::size_t>(i);
        out += std::to_string(i) + ": " + dateien.Datei[k] + "  Xmin " + ShowNumber(dateien.Xmin[k], sep) +
               "  Xmax " + ShowNumber(dateien.Xmax[k], sep) + "  Ymin " + ShowNumber(dateien.Ymin[k], sep) +
               "  Ymax " + ShowNumber(dateien.Ymax[k], sep);
        if (ordnerKacheln)
            if (const std::optional<std::size_t> n = ordnerKacheln(i)) out += "  (Ordner, " + KachelnText(*n) + ")";
        out += "\n";
    }
    return out;
}

TGitterZugriff GitterZugriffFor(TTextGitter& grid) {
    TGitterZugriff h;
    h.colCount = grid.ColCount();
    h.headingWidth = [&grid](int col) { return grid.TextWidth(grid.Cell(col, 0)); };
    h.setColWidth = [&grid](int col, int width) { grid.SetColWidth(col, width); };
    h.colWidth = [&grid](int col) { return grid.ColWidth(col); };
    return h;
}

std::string KonfFileFor(const std::string& programPath) {
    return FolderPart(programPath) + NameWithoutExt(programPath) + ".KNF";
}

TKonfGelesen KonfLoad(const std::string& path, const std::string& programFolder, TSettings& settings,
                      TDateien& dateien) {
    TKonfGelesen result;
    std::optional<LineSource> source;
    try {
        source.emplace(path);
    } catch (const EInOutError& e) {
        if (IsMissingFile(e.Errno())) return result;
        ThrowWithPath(e, path);
    }
    LineSource& in = *source;

    // Read into copies: a read error midway leaves every value as it was.
    TSettings set = settings;
    TDateien dat = dateien;
    bool widths = false;
    uint64_t found = 0;
    try {
        std::string s = in.Read();  // version line, never looked at
        double* values[] = {&set.Rasterabstand, &set.Fangbreite, &set.Potenz};
        for (double* v : values) {
            if (in.Eof()) continue;
            s = in.Read();
            *v = SettingValue(s, 5);
        }
        if (!in.Eof()) {
            s = in.Read();
            int32_t v = 0;
            ValInt(IntegerChars(std::string_view(s).substr(0, std::min<std::size_t>(5, s.size()))), v);
            set.DBFVersion = v;
        }
        if (!in.Eof()) {
            s = in.Read();
            widths = ParseIntList(s, '\t', set.GridBreiten) > 0;
        }
        if (!in.Eof()) {
            s = in.Read();
            ParseIntList(s, '\t', set.DateiGridBreiten);
        }

        // Catalogue section: the first line whose first four characters read "[DAT" in any case.
        for (;;) {
            if (ToUpper(std::string_view(s).substr(0, std::min<std::size_t>(4, s.size()))) == "[DAT") break;
            if (in.Eof()) break;
            s = TrimLeft(in.Read());
        }
        if (!s.empty() && s[0] == '[') {
            std::string folder = programFolder;
            if (!folder.empty() && !IsFolderSeparator(folder.back())) folder.push_back('/');
            dat.Anzahl = 0;
            while (!in.Eof()) {
                while (!s.starts_with("#D") && !in.Eof()) s = in.Read();
                if (s.empty() || s[0] != '#') continue;
                s = in.Read();
                std::string entry = Trim(s);
                if (!IsValidFileName(entry)) continue;
                ++found;
                // Entries beyond the record's room are counted and their lines passed over.
                const bool keep = found <= MaxDateien;
                const auto i = static_cast<std::size_t>(found);
                if (keep) {
                    dat.Datei[i] = HasFolderPart(entry) ? entry : folder + "Daten/" + entry;
                    dat.Anzahl = static_cast<uint8_t>(found);
                }
                for (int k = 0; k < 4 && !in.Eof(); ++k) {
                    s = in.Read();
                    if (!keep) continue;
                    double* extents[] = {&dat.Xmin[i], &dat.Xmax[i], &dat.Ymin[i], &dat.Ymax[i]};
                    *extents[k] = SettingValue(s, 12);
                }
            }
        }
    } catch (const EInOutError& e) {
        ThrowWithPath(e, path);
    }

    settings = set;
    dateien = dat;
    result.Vorhanden = true;
    result.GridBreiten = widths;
    result.Eintraege = found;
    result.ZuVieleEintraege = found > MaxDateien;
    return result;
}

std::string KonfText(const TSettings& settings, const TDateien& dateien) {
    std::string out;
    const int n = dateien.Eintraege();
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

void ApplyGridWidths(const TKonfGelesen& gelesen, const TSettings& settings, const TGitterZugriff& grid) {
    if (!gelesen.GridBreiten || !grid.headingWidth || !grid.setColWidth) return;
    // Only widen: a stored width below the heading's own width is not applied.
    for (int col = 0; col < grid.colCount && col < 11; ++col) {
        const int stored = settings.GridBreiten[col];
        if (grid.headingWidth(col) < stored) grid.setColWidth(col, stored);
    }
}

void TakeGridWidths(TSettings& settings, const TGitterZugriff& grid) {
    if (!grid.colWidth) return;
    for (int col = 0; col < grid.colCount && col < 11; ++col) settings.GridBreiten[col] = grid.colWidth(col);
}

TSchutz ProtectedFiles(const TDateien& catalogue) {
    TSchutz schutz;
    schutz.Konfiguration = catalogue.KonfDatei;
    for (int i = 1; i <= catalogue.Eintraege(); ++i) {
        const std::string& pfad = catalogue.Datei[static_cast<std::size_t>(i)];
        schutz.Quellen.push_back(pfad);
        // A folder's tiles are sources too; which names are tiles is decided at the check.
        if (IsOrdnerEintrag(pfad)) schutz.Ordner.push_back(pfad);
    }
    schutz.Unterordner = catalogue.Ordner.Unterordner;
    return schutz;
}

void KonfSave(const std::string& path, const TSettings& settings, const TDateien& dateien, bool ordnerAnlegen) {
    TSchutz schutz = ProtectedFiles(dateien);
    schutz.Konfiguration.clear();  // the file being written is the configuration
    WriteWholeFile(path, KonfText(settings, dateien), schutz, ordnerAnlegen);
}

}  // namespace tervalo

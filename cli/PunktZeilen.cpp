#include "cli/PunktZeilen.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <fstream>

#include "cli/Commands.h"
#include "tools/Errors.h"
#include "tools/Tools.h"

namespace tervalo::cli {

namespace {

bool Leerzeichen(char c) { return c == ' ' || c == '\r' || c == '\v' || c == '\f'; }

std::string_view Getrimmt(std::string_view t) {
    while (!t.empty() && Leerzeichen(t.front())) t.remove_prefix(1);
    while (!t.empty() && Leerzeichen(t.back())) t.remove_suffix(1);
    return t;
}

}  // namespace

// One input line without its LF: at most its first LinePrefixBytes bytes, the rest passed
// over, so a line without end costs no memory. False at the end of the input.
bool LiesZeile(std::istream& in, std::string& line) {
    line.clear();
    std::streambuf* sb = in.rdbuf();
    bool etwas = false;
    for (;;) {
        const int c = sb->sbumpc();
        if (c == std::char_traits<char>::eof()) {
            in.setstate(std::ios::eofbit);
            return etwas;
        }
        etwas = true;
        if (c == '\n') return true;
        if (line.size() < LinePrefixBytes) line.push_back(static_cast<char>(c));
    }
}

// A column number as --spalten and --id take it: a whole number from 1.
std::optional<std::size_t> Spaltennummer(std::string_view t) {
    std::size_t v = 0;
    const auto r = std::from_chars(t.data(), t.data() + t.size(), v);
    if (t.empty() || r.ec != std::errc() || r.ptr != t.data() + t.size() || v < 1) return std::nullopt;
    return v;
}


bool NurLeer(std::string_view t) {
    return std::all_of(t.begin(), t.end(), [](char c) { return Leerzeichen(c) || c == '\t'; });
}

// A line's columns: split at each ";" or TAB when it holds either (so ";;" is an empty column),
// otherwise at runs of blanks; each one trimmed.
void Spalten(std::string_view line, std::vector<std::string_view>& out) {
    out.clear();
    if (line.find_first_of(";\t") != std::string_view::npos) {
        for (;;) {
            const std::size_t e = line.find_first_of(";\t");
            out.push_back(Getrimmt(line.substr(0, e)));
            if (e == std::string_view::npos) return;
            line.remove_prefix(e + 1);
        }
    }
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && Leerzeichen(line[i])) ++i;
        const std::size_t b = i;
        while (i < line.size() && !Leerzeichen(line[i])) ++i;
        if (i > b) out.push_back(line.substr(b, i - b));
    }
}

// The line as a message quotes it: at most 60 characters (UTF-8), control codes but TAB
// shown as "?", so that no input can steer the terminal.
std::string Zitat(std::string_view line) {
    constexpr int kZeichen = 60;
    std::string z = "\"";
    int zeichen = 0;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const auto c = static_cast<unsigned char>(line[i]);
        const bool folgebyte = (c & 0xC0) == 0x80;
        if (!folgebyte && ++zeichen > kZeichen) {
            z += "\xE2\x80\xA6";  // …
            break;
        }
        z += (c < 0x20 && c != '\t') || c == 0x7F ? '?' : static_cast<char>(c);
    }
    return z + '"';
}

// Why the column at `spalte` holds no text to read a coordinate from (--ein); empty when it holds one.
std::string SpaltenFehlerText(const std::vector<std::string_view>& s, std::size_t spalte) {
    const std::string nr = std::to_string(spalte);
    if (spalte > s.size())
        return "Spalte " + nr + " fehlt (" + (s.size() == 1 ? std::string("nur 1 Spalte") :
                                                              "nur " + std::to_string(s.size()) + " Spalten") + ")";
    if (s[spalte - 1].empty()) return "Spalte " + nr + " ist leer";
    return {};
}

// A column that reads as neither a number nor an angle: a header's name.
bool KeinWert(const std::vector<std::string_view>& s, std::size_t spalte, TAchse achse) {
    if (spalte > s.size()) return true;
    const std::string_view t = s[spalte - 1];
    return !ArgumentZahl(t) && !TryReadWinkel(t, achse);
}

// Why the column at `spalte` holds no coordinate; empty when it holds one, into `wert`.
std::string SpaltenFehler(const std::vector<std::string_view>& s, std::size_t spalte, double& wert) {
    const std::string nr = std::to_string(spalte);
    if (spalte > s.size())
        return "Spalte " + nr + " fehlt (" + (s.size() == 1 ? std::string("nur 1 Spalte") :
                                                              "nur " + std::to_string(s.size()) + " Spalten") + ")";
    const std::string_view t = s[spalte - 1];
    if (t.empty()) return "Spalte " + nr + " ist leer";
    // The rule of query's arguments: "." or "," as decimal point, no "+-".
    const std::optional<double> v = ArgumentZahl(t);
    if (!v) return "Spalte " + nr + " ist keine Zahl";
    wert = *v;
    return {};
}

// Lines of a regular file, for the progress line's total; 0 when it cannot be told.
long ZeilenInDatei(const std::string& pfad) {
    std::ifstream f(pfad, std::ios::binary);
    if (!f) return 0;
    long n = 0;
    char c = '\n';
    std::vector<char> puffer(1 << 16);
    while (f.read(puffer.data(), static_cast<std::streamsize>(puffer.size())) || f.gcount() > 0) {
        const auto k = static_cast<std::size_t>(f.gcount());
        n += std::count(puffer.data(), puffer.data() + k, '\n');
        c = puffer[k - 1];
    }
    return c == '\n' ? n : n + 1;
}

std::istream* OeffneEingabe(const std::string& pfad, std::ifstream& datei) {
    if (pfad == "-") return &std::cin;
    errno = 0;
    // A folder opens as a stream but fails on the first read, with the library's own text.
    struct stat st {};
    if (::stat(pfad.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        std::cerr << NamePath(ErrnoText(EISDIR), pfad) << '\n';
        return nullptr;
    }
    datei.open(pfad, std::ios::binary);
    if (!datei) {
        std::cerr << NamePath(errno != 0 ? ErrnoText(errno) : std::string("I/O-Fehler"), pfad) << '\n';
        return nullptr;
    }
    return &datei;
}

CLI::Option* AddSpaltenOption(CLI::App* cmd, std::size_t& spalteX, std::size_t& spalteY) {
    return cmd
        ->add_option_function<std::string>(
            "--spalten",
            [&spalteX, &spalteY](const std::string& text) {
                const std::size_t komma = text.find(',');
                spalteX = *Spaltennummer(std::string_view(text).substr(0, komma));
                spalteY = *Spaltennummer(std::string_view(text).substr(komma + 1));
            },
            "Spalten von Rechts- und Hochwert, ab 1 gez\xC3\xA4hlt (Standard: 1,2)")
        ->check(CLI::Validator(
            [](std::string& text) -> std::string {
                const std::size_t komma = text.find(',');
                const std::optional<std::size_t> x = Spaltennummer(std::string_view(text).substr(0, komma));
                const std::optional<std::size_t> y =
                    komma == std::string::npos ? std::nullopt : Spaltennummer(std::string_view(text).substr(komma + 1));
                if (!x || !y || *x == *y) return "zwei verschiedene Spaltennummern ab 1 erwartet, etwa 2,3: " + text;
                return {};
            },
            ""))
        ->type_name("X,Y");
}

}  // namespace tervalo::cli

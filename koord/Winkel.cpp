#include "koord/Winkel.h"

#include <cmath>
#include <cstring>

#include "koord/Bezugssystem.h"
#include "tools/Eingabezahl.h"

namespace tervalo {

namespace {

const char* AchsenName(TAchse a) { return a == TAchse::Breite ? "Breite" : "L\xC3\xA4nge"; }

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

void Trim(std::string_view& t) {
    while (!t.empty() && IsBlank(t.front())) t.remove_prefix(1);
    while (!t.empty() && IsBlank(t.back())) t.remove_suffix(1);
}

bool IsLetter(char c) { return c == 'N' || c == 'S' || c == 'E' || c == 'O' || c == 'W'; }

// The part a unit mark at the start of `t` stands for (0 degrees, 1 minutes, 2 seconds), and
// its length; -1 when there is none.
int TakeMark(std::string_view t, std::size_t& len) {
    auto starts = [&](const char* m) {
        const std::size_t n = std::strlen(m);
        if (t.substr(0, n) != m) return false;
        len = n;
        return true;
    };
    if (starts("\xC2\xB0") || starts("\xC2\xBA") || starts("d")) return 0;  // ° º d
    if (starts("''") || starts("\"") || starts("\xE2\x80\xB3") || starts("s")) return 2;  // '' " ″ s
    if (starts("'") || starts("\xE2\x80\xB2") || starts("\xE2\x80\x99") || starts("m")) return 1;  // ' ′ ’ m
    return -1;
}

enum class TGrund { Form, Buchstabe, Sechzig, Bereich };

bool Parse(std::string_view t, TAchse achse, double& out, TGrund& grund, char& letter) {
    grund = TGrund::Form;
    letter = 0;
    Trim(t);
    if (!t.empty() && IsLetter(t.front())) {
        letter = t.front();
        t.remove_prefix(1);
    } else if (!t.empty() && IsLetter(t.back())) {
        letter = t.back();
        t.remove_suffix(1);
    }
    Trim(t);
    if (letter) {
        const bool breite = letter == 'N' || letter == 'S';
        if (breite != (achse == TAchse::Breite)) {
            grund = TGrund::Buchstabe;
            return false;
        }
    }
    bool minus = false;
    if (!t.empty() && (t.front() == '-' || t.front() == '+')) {
        if (letter) return false;  // "-51 N" says the hemisphere twice
        minus = t.front() == '-';
        t.remove_prefix(1);
    }
    double parts[3] = {0, 0, 0};
    int last = -1;
    bool fraction = false;
    while (!t.empty()) {
        if (last == 2 || fraction) return false;  // nothing after seconds or a fraction
        std::size_t n = 0;
        int seps = 0;
        while (n < t.size() && (static_cast<unsigned char>(t[n] - '0') < 10 || t[n] == '.' || t[n] == ',')) {
            if (t[n] == '.' || t[n] == ',') ++seps;
            ++n;
        }
        if (n == 0 || seps > 1) return false;
        const std::optional<double> v = dezimal::ReadArgumentZahl(t.substr(0, n));
        if (!v) return false;
        fraction = seps == 1;
        t.remove_prefix(n);
        Trim(t);
        std::size_t len = 0;
        int part = TakeMark(t, len);
        if (part >= 0) {
            t.remove_prefix(len);
            Trim(t);
        } else {
            part = last + 1;
        }
        if (part != last + 1) return false;  // in order, none left out
        parts[part] = *v;
        last = part;
    }
    if (last < 0) return false;
    if (parts[1] >= 60 || parts[2] >= 60) {
        grund = TGrund::Sechzig;
        return false;
    }
    // A plain number of degrees keeps its value bit for bit.
    double v = parts[0];
    if (last >= 1) v += parts[1] / 60.0;
    if (last >= 2) v += parts[2] / 3600.0;
    if (minus || letter == 'S' || letter == 'W') v = -v;
    const double grenze = achse == TAchse::Breite ? 90.0 : 180.0;
    if (!(std::fabs(v) <= grenze)) {
        grund = TGrund::Bereich;
        return false;
    }
    out = v;
    return true;
}

}  // namespace

std::optional<double> TryReadWinkel(std::string_view text, TAchse achse) {
    double v = 0;
    TGrund grund = TGrund::Form;
    char letter = 0;
    if (!Parse(text, achse, v, grund, letter)) return std::nullopt;
    return v;
}

double ReadWinkel(std::string_view text, TAchse achse) {
    double v = 0;
    TGrund grund = TGrund::Form;
    char letter = 0;
    if (Parse(text, achse, v, grund, letter)) return v;
    std::string m = std::string(AchsenName(achse)) + " \"" + std::string(text) + "\"";
    switch (grund) {
    case TGrund::Buchstabe:
        m += std::string(": der Buchstabe ") + letter + " geh\xC3\xB6rt zur " +
             AchsenName(achse == TAchse::Breite ? TAchse::Laenge : TAchse::Breite);
        break;
    case TGrund::Sechzig:
        m += ": Minuten und Sekunden m\xC3\xBCssen unter 60 liegen";
        break;
    case TGrund::Bereich:
        m += achse == TAchse::Breite ? " liegt nicht im Bereich -90 bis 90 Grad"
                                     : " liegt nicht im Bereich -180 bis 180 Grad";
        break;
    case TGrund::Form:
        m += " ist keine Gradangabe (Formen: 51,5 oder 51.5; 51\xC2\xB0" "30'12,5\"N; 51 30 12.5 N; "
             "Buchstaben N/S f\xC3\xBCr die Breite, E/O/W f\xC3\xBCr die L\xC3\xA4nge)";
        break;
    }
    throw EKoordFehler(m);
}

}  // namespace tervalo

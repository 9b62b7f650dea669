// tervalo-demo [ORDNER]: writes a demo terrain of four overlapping 1 km tiles into
// <folder>/Daten/ and a catalogue tervalo.KNF pointing at them. Without a folder argument it
// uses the places the other programs read (beside a portable copy, the user's XDG folders when
// installed). An existing tervalo.KNF is never overwritten. --help and --version only answer.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <string>

#include "config/Konf.h"
#include "config/Orte.h"
#include "config/TYPEN.h"
#include "config/Version.h"
#include "filemanager/Extent.h"
#include "formats/PunktAusgabe.h"
#include "tools/SafeWriter.h"

namespace {

namespace fs = std::filesystem;
using namespace tervalo;

constexpr double kX0 = 3566000.0, kY0 = 5935000.0;  // south-west corner, zone 3
constexpr double kSeite = 1000.0, kRaster = 5.0;

// Hills, a winding valley and a terrace edge, between 150 and 450 mNN.
double Hoehe(double x, double y) {
    const double u = (x - kX0) / 2000.0, v = (y - kY0) / 2000.0;
    auto glocke = [](double du, double dv, double breite) { return std::exp(-(du * du + dv * dv) / breite); };
    double h = 250.0 + 60.0 * u - 30.0 * v;
    h += 140.0 * glocke(u - 0.30, v - 0.70, 0.020);
    h += 90.0 * glocke(u - 0.75, v - 0.30, 0.015);
    const double tal = v - (0.45 + 0.10 * std::sin(6.0 * u));
    h -= 80.0 * std::exp(-tal * tal / 0.004);
    if (v > 0.85 - 0.20 * u) h += 35.0;  // terrace edge
    h = std::clamp(h, 150.0, 450.0);
    return std::round(h * 1000.0) / 1000.0;  // millimetres, as both file kinds store them
}

template <class Fn>
void Kachel(double x0, double y0, Fn&& punkt) {
    const int n = static_cast<int>(kSeite / kRaster);
    for (int j = 0; j <= n; ++j)  // both edges: neighbours share a row or column of points
        for (int i = 0; i <= n; ++i) {
            const double x = x0 + i * kRaster, y = y0 + j * kRaster;
            punkt(x, y, Hoehe(x, y));
        }
}

constexpr const char* kAufruf =
    "Aufruf: tervalo-demo [OPTIONEN] [ORDNER]\n"
    "Schreibt ein Demo-Gel\xC3\xA4nde aus vier Kacheln nach ORDNER/Daten/ und einen Katalog\n"
    "ORDNER/tervalo.KNF, der auf sie zeigt. Ohne ORDNER gelten die Orte, die auch tervalo und\n"
    "tervalo-cli lesen. Eine vorhandene tervalo.KNF bleibt unver\xC3\xA4ndert.\n"
    "\n"
    "Optionen:\n"
    "  -h, --help   Diese Hilfe anzeigen und beenden\n"
    "  --version    Version anzeigen und beenden\n"
    "  --           was folgt, ist der ORDNER, auch wenn er mit \"-\" beginnt\n";

// A usage error: the reason and the hint to the help, exit code 2.
int Aufruffehler(const std::string& grund) {
    std::fprintf(stderr, "%s\nWeitere Informationen: tervalo-demo --help\n", grund.c_str());
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    // A word starting with "-" is an option, never a folder to write the demo into.
    const char* ordnerArg = nullptr;
    bool optionenEnde = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (!optionenEnde && a == "--") {
            optionenEnde = true;
        } else if (!optionenEnde && (a == "-h" || a == "--help")) {
            std::fputs(kAufruf, stdout);
            return std::fflush(stdout) == 0 ? 0 : 1;
        } else if (!optionenEnde && a == "--version") {
            std::printf("%s\n", VersionText("tervalo-demo").c_str());
            return std::fflush(stdout) == 0 ? 0 : 1;
        } else if (!optionenEnde && !a.empty() && a[0] == '-') {
            return Aufruffehler("Unbekannte Option: " + a);
        } else if (ordnerArg != nullptr) {
            return Aufruffehler("Unerwartetes Argument: " + a);
        } else {
            ordnerArg = argv[i];
        }
    }
    try {
        fs::path konf, daten;
        bool installiert = false;
        if (ordnerArg != nullptr) {
            const fs::path ordner = fs::absolute(ordnerArg);
            konf = ordner / "tervalo.KNF";
            daten = ordner / "Daten";
        } else {
            const TOrte orte = FindProgrammOrte();
            konf = orte.KonfDatei;
            daten = fs::path(orte.DatenOrdner).parent_path();
            installiert = orte.Installiert;
        }
        if (fs::exists(konf)) {
            std::printf("%s ist schon vorhanden und bleibt unver\xC3\xA4ndert.\n", konf.string().c_str());
            return 0;
        }
        // The user's own folders are private; a portable folder keeps the usual mode.
        if (installiert)
            TSichereDatei::MakeFolders(daten.string());
        else
            fs::create_directories(daten);

        struct Blatt {
            const char* name;
            double x0, y0;
            int art;  // 0 XYZ text, else dBase level
        };
        const Blatt blaetter[] = {{"blatt_sw.xyz", kX0, kY0, 0},
                                  {"blatt_so.dbf", kX0 + kSeite, kY0, 4},
                                  {"blatt_nw.dbf", kX0, kY0 + kSeite, 7},
                                  {"blatt_no.xyz", kX0 + kSeite, kY0 + kSeite, 0}};
        TDateien kat;
        kat.KonfDatei = konf.string();
        for (const Blatt& b : blaetter) {
            const std::string pfad = (daten / b.name).string();
            TPunktAusgabe out;
            out.Open(pfad, b.art == 0 ? TAusgabe{TAusgabeFormat::Xyz} : TAusgabe{TAusgabeFormat::DBase, b.art}, {});
            Kachel(b.x0, b.y0, [&](double x, double y, double z) { out.Write(x, y, z); });
            out.Close({});
            const TExtremwerte e = ReadExtremwerte(pfad);
            const std::size_t i = ++kat.Anzahl;
            kat.Datei[i] = pfad;
            kat.Xmin[i] = e.Xmin;
            kat.Xmax[i] = e.Xmax;
            kat.Ymin[i] = e.Ymin;
            kat.Ymax[i] = e.Ymax;
            std::printf("%s: %llu Punkte, X %.2f bis %.2f, Y %.2f bis %.2f\n", pfad.c_str(),
                        static_cast<unsigned long long>(e.Accepted), e.Xmin, e.Xmax, e.Ymin, e.Ymax);
        }

        TSettings settings;
        const int32_t breiten[5] = {30, 70, 70, 45, 41};  // the result grid's start widths
        std::copy(std::begin(breiten), std::end(breiten), settings.GridBreiten);
        KonfSave(konf.string(), settings, kat, installiert);  // errors name the file
        std::printf("Katalog geschrieben: %s\n", konf.string().c_str());
        std::printf("Zum Ausprobieren, an der Ecke aller vier Bl\xC3\xA4tter: Rechtswert 3567002.5, Hochwert 5936002.5\n"
                    "  tervalo-cli query 3567002.5 5936002.5\n");
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
}

#include "cli/Eingabe.h"

#include <charconv>
#include <iostream>

#include "tools/Dezimal.h"

namespace tervalo::cli {

int UsageError(const std::string& command, const std::string& text) {
    std::cout.flush();
    std::cerr << text << "\nWeitere Informationen: tervalo-cli " << command << " --help\n";
    return 2;
}

int ReadEinWahl(const std::string& command, const std::string& ein, const TKonfCli& k, std::optional<TEinWahl>& out) {
    out.reset();
    if (ein.empty()) return 0;
    TEinWahl w;
    w.Text = ein;
    try {
        w.Wahl = ParseSystemWahl(ein);
    } catch (const EKoordFehler& e) {
        return UsageError(command, std::string("--ein: ") + e.what());
    }
    std::string meldung;
    const std::optional<int> epsg = ReadKachelSystem(k.Einstellungen, &meldung);
    if (!epsg) {
        std::string text =
            "--ein: Das Bezugssystem der Kacheln ist nicht festgelegt; zuerst mit \"tervalo-cli konf --system SYSTEM\" "
            "festlegen";
        if (!meldung.empty()) text = meldung + "\n" + text;
        return UsageError(command, text);
    }
    try {
        w.Kacheln = ParseBezugssystem(SystemText(*epsg));
    } catch (const EKoordFehler& e) {
        return UsageError(command, e.what());
    }
    out = std::move(w);
    return 0;
}

std::string ZahlTextOrt(double v, int decimals) {
    const char sep = DecimalSeparator();
    if (decimals >= 0) return FixedText(v, 0, decimals, sep, TRundung::Printf);
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    std::string s(buf, r.ptr);
    for (char& c : s)
        if (c == '.') c = sep;
    return s;
}

std::string EingabeZeile(const TEinWahl& w, const TBezugssystem& eingabe, const std::string& a, const std::string& b,
                         double x, double y) {
    // With auto the user learns which system the numbers were read in.
    const std::string name = w.Wahl.Auto ? w.Text + ", " + eingabe.Kanonisch : w.Text;
    // Forms with blanks inside ("53 33 5.85 N") would run into each other.
    const char* trenner = a.find(' ') != std::string::npos || b.find(' ') != std::string::npos ? " / " : " ";
    return "Eingabe (" + name + "): " + a + trenner + b + " -> X " + ZahlTextOrt(x, 3) + " Y " + ZahlTextOrt(y, 3);
}

std::string VerfahrenZeile(const TUmgerechnet& p, const TBezugssystem& kacheln) {
    if (p.Verfahren) return VerfahrenText(*p.Verfahren);
    return "Keine Umrechnung n\xC3\xB6tig: Eingabe im Bezugssystem der Kacheln (" + kacheln.Kanonisch + ")";
}

TEingabeJson EingabeJson(const TBezugssystem& eingabe, const TEingabePunkt& werte, const TUmgerechnet& p) {
    TEingabeJson j;
    j.System = eingabe.Kanonisch;
    j.A = werte.A;
    j.B = werte.B;
    if (p.Verfahren) {
        j.Umgerechnet = true;
        j.Verfahren = p.Verfahren->Name;
        j.GenauigkeitM = p.Verfahren->GenauigkeitM;
        j.Gitter = p.Verfahren->Gitter;
    }
    return j;
}

}  // namespace tervalo::cli

#include "server/DienstEinstellungen.h"

#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <map>
#include <optional>
#include <sstream>
#include <thread>

#include "cli/Commands.h"
#include "config/Einstellungen.h"
#include "config/Version.h"
#include "tools/Errors.h"

namespace tervalo::server {

namespace {

constexpr const char* AbschnittDienst = "Dienst";
constexpr std::size_t MaxNamensLaenge = 64;

bool GleichOhneFall(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

// A whole number within [min, max]; empty for any other text.
std::optional<long> Ganzzahl(std::string_view t, long min, long max) {
    long v = 0;
    const auto r = std::from_chars(t.data(), t.data() + t.size(), v);
    if (t.empty() || r.ec != std::errc() || r.ptr != t.data() + t.size() || v < min || v > max) return std::nullopt;
    return v;
}

struct TGrenze {
    const char* Option;   // as on the command line
    const char* Schluessel;  // in [Dienst]
    long Min, Max;
};
constexpr TGrenze GrenzePort{"--port", "Port", 1, 65535};
constexpr TGrenze GrenzeSpeicher{"--speicher", "Speicher", 1, 1L << 20};
constexpr TGrenze GrenzeMaxPunkte{"--max-punkte", "MaxPunkte", 1, 1000000};
constexpr TGrenze GrenzeThreads{"--threads", "Threads", 1, 1024};

std::string BereichText(const TGrenze& g) {
    return "ganze Zahl von " + std::to_string(g.Min) + " bis " + std::to_string(g.Max) + " erwartet";
}

CLI::Validator GanzzahlPruefung(const TGrenze& g) {
    return CLI::Validator(
        [g](std::string& text) -> std::string {
            return Ganzzahl(text, g.Min, g.Max) ? std::string() : BereichText(g) + ": " + text;
        },
        "");
}

// "*" or origins separated by commas; blanks around each are dropped.
std::vector<std::string> CorsListe(std::string_view text) {
    std::vector<std::string> out;
    std::size_t von = 0;
    while (von <= text.size()) {
        const std::size_t bis = std::min(text.find(',', von), text.size());
        std::string_view teil = text.substr(von, bis - von);
        while (!teil.empty() && (teil.front() == ' ' || teil.front() == '\t')) teil.remove_prefix(1);
        while (!teil.empty() && (teil.back() == ' ' || teil.back() == '\t')) teil.remove_suffix(1);
        if (!teil.empty()) out.emplace_back(teil);
        von = bis + 1;
    }
    return out;
}

// A catalogue's path made absolute against `basis`, so a reload reads the same file wherever
// the process stands.
std::string Absolut(const std::string& pfad, const std::filesystem::path& basis) {
    std::filesystem::path p(pfad);
    if (p.is_relative()) p = basis / p;
    return p.lexically_normal().string();
}

TKatalogAngabe KatalogAngabe(std::string_view text, const std::string& wo) {
    const std::size_t gleich = text.find('=');
    if (gleich == std::string_view::npos)
        throw EStartFehler(wo + ": NAME=PFAD.KNF erwartet: " + std::string(text), 2);
    TKatalogAngabe k{std::string(text.substr(0, gleich)), std::string(text.substr(gleich + 1))};
    if (const std::string f = NamensFehler(k.Name); !f.empty()) throw EStartFehler(wo + ": " + f, 2);
    if (k.Pfad.empty()) throw EStartFehler(wo + ": Pfad der Konfigurationsdatei fehlt: " + std::string(text), 2);
    return k;
}

// Adds or replaces by name, so the command line can override a catalogue of the file.
void Setze(std::vector<TKatalogAngabe>& liste, TKatalogAngabe k) {
    for (TKatalogAngabe& v : liste)
        if (v.Name == k.Name) {
            v = std::move(k);
            return;
        }
    liste.push_back(std::move(k));
}

// The [Dienst] section of the settings file into `e`, catalogues in file order.
void LiesDatei(const std::string& datei, TDienstEinstellungen& e) {
    TEinstellungen ini;
    try {
        ini.Load(datei);
    } catch (const std::exception& ex) {
        throw EStartFehler(ex.what(), 1);
    }
    if (!ini.Vorhanden()) throw EStartFehler("Einstellungsdatei nicht gefunden: " + datei, 1);
    const std::filesystem::path basis = std::filesystem::absolute(datei).parent_path();
    std::vector<TKatalogAngabe> kataloge;
    for (const auto& [schluessel, wert] : ini.Entries(AbschnittDienst)) {
        const std::string wo = ini.ZeilenMeldung(wert.Zeile, schluessel);
        // By reference through a named alias: clang 14 cannot capture a structured binding.
        const auto& text = wert.Text;
        const auto zahl = [&](const TGrenze& g) {
            const std::optional<long> v = Ganzzahl(text, g.Min, g.Max);
            if (!v) throw EStartFehler(wo + ": " + BereichText(g) + ": " + text, 2);
            return *v;
        };
        constexpr std::string_view praefix = "Katalog.";
        if (schluessel.size() > praefix.size() && GleichOhneFall(schluessel.substr(0, praefix.size()), praefix)) {
            TKatalogAngabe k = KatalogAngabe(schluessel.substr(praefix.size()) + "=" + wert.Text, wo);
            for (const TKatalogAngabe& v : kataloge)
                if (v.Name == k.Name) throw EStartFehler(wo + ": Katalogname doppelt: " + k.Name, 2);
            k.Pfad = Absolut(k.Pfad, basis);
            kataloge.push_back(std::move(k));
        } else if (GleichOhneFall(schluessel, "Adresse")) {
            if (wert.Text.empty()) throw EStartFehler(wo + ": Adresse fehlt", 2);
            e.Adresse = wert.Text;
        } else if (GleichOhneFall(schluessel, GrenzePort.Schluessel)) {
            e.Port = static_cast<int>(zahl(GrenzePort));
        } else if (GleichOhneFall(schluessel, GrenzeSpeicher.Schluessel)) {
            e.SpeicherMiB = zahl(GrenzeSpeicher);
        } else if (GleichOhneFall(schluessel, GrenzeMaxPunkte.Schluessel)) {
            e.MaxPunkte = static_cast<std::size_t>(zahl(GrenzeMaxPunkte));
        } else if (GleichOhneFall(schluessel, GrenzeThreads.Schluessel)) {
            e.Threads = static_cast<int>(zahl(GrenzeThreads));
        } else if (GleichOhneFall(schluessel, "Cors")) {
            e.Cors = CorsListe(wert.Text);
        } else {
            // A typo would otherwise leave a limit silently at its default.
            throw EStartFehler(wo + ": unbekannter Schl\xC3\xBCssel im Abschnitt [Dienst]", 2);
        }
    }
    e.Kataloge = std::move(kataloge);
}

}  // namespace

std::string NamensFehler(std::string_view name) {
    if (name.empty()) return "Katalogname fehlt";
    if (name.size() > MaxNamensLaenge)
        return "Katalogname l\xC3\xA4nger als " + std::to_string(MaxNamensLaenge) + " Zeichen: " + std::string(name);
    const bool gut = std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
    });
    if (!gut)
        return "Katalogname \"" + std::string(name) +
               "\" ist nicht erlaubt: nur Buchstaben, Ziffern, \"-\" und \"_\"";
    for (const char* reserviert : {"datasets", "health", "metrics"})
        if (GleichOhneFall(name, reserviert))
            return "Katalogname \"" + std::string(name) + "\" ist vergeben: datasets, health und metrics sind Pfade des Dienstes";
    return {};
}

int StandardThreads() {
    const int kerne = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    // A keep-alive connection holds its worker while it stays open: enough of them that a
    // long request or a few idle clients do not keep the others waiting.
    return std::max(32, 4 * kerne);
}

TStartAngaben ReadStartAngaben(int argc, const char* const* argv) {
    CLI::App app{"Tervalo-H\xC3\xB6hendienst: H\xC3\xB6hen aus den Katalogen \xC3\xBC" "ber HTTP (JSON)",
                 "tervalo-server"};
    cli::Deutsch(app);
    std::vector<std::string> kataloge;
    std::string datei, adresse, cors;
    long port = 0, speicher = 0, maxPunkte = 0, threads = 0;
    app.add_option("--katalog", kataloge,
                   "Katalog unter NAME anbieten: NAME=PFAD.KNF (mehrfach; die Einstellungsdatei .ini daneben "
                   "gilt mit)")
        ->type_name("NAME=PFAD")
        ->take_all();
    app.add_option("--einstellungen", datei,
                   "Einstellungen des Dienstes aus dieser Datei, Abschnitt [Dienst] (Schl\xC3\xBCssel Adresse, Port, "
                   "Speicher, MaxPunkte, Cors, Threads, je Katalog Katalog.NAME=PFAD); die Befehlszeile geht vor")
        ->type_name("DATEI");
    app.add_option("--adresse", adresse, "Adresse, an der der Dienst lauscht (Standard: 127.0.0.1)")
        ->type_name("ADRESSE");
    app.add_option("--port", port, "Port (Standard: 5000)")->check(GanzzahlPruefung(GrenzePort))->type_name("PORT");
    app.add_option("--speicher", speicher,
                   "h\xC3\xB6" "chstens so viele MiB geladener Kachelpunkte, auf die Kataloge gleich verteilt "
                   "(Standard: 512)")
        ->check(GanzzahlPruefung(GrenzeSpeicher))
        ->type_name("MIB");
    app.add_option("--max-punkte", maxPunkte, "h\xC3\xB6" "chstens so viele Punkte je Anfrage (Standard: 10000)")
        ->check(GanzzahlPruefung(GrenzeMaxPunkte))
        ->type_name("N");
    app.add_option("--cors", cors,
                   "Anfragen aus dem Browser erlauben: \"*\" f\xC3\xBCr alle Herk\xC3\xBCnfte oder eine durch Kommas "
                   "getrennte Liste (Standard: keine)")
        ->type_name("HERKUNFT");
    app.add_option("--threads", threads,
                   "Arbeiter f\xC3\xBCr die Verbindungen (Standard: " + std::to_string(StandardThreads()) + ")")
        ->check(GanzzahlPruefung(GrenzeThreads))
        ->type_name("N");
    app.set_version_flag("--version", VersionText("tervalo-server"), "Version anzeigen und beenden");

    TStartAngaben out;
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        out.Beenden = true;
        out.Text = app.help();
        return out;
    } catch (const CLI::CallForVersion&) {
        out.Beenden = true;
        out.Text = VersionText("tervalo-server") + "\n";
        return out;
    } catch (const CLI::ParseError& e) {
        throw EStartFehler(cli::UsageErrorText(app, e), 2);
    }

    TDienstEinstellungen& e = out.Einstellungen;
    if (!datei.empty()) LiesDatei(datei, e);
    out.MitDatei = !datei.empty();
    const std::filesystem::path hier = std::filesystem::current_path();
    for (const std::string& k : kataloge) {
        TKatalogAngabe a = KatalogAngabe(k, "--katalog");
        a.Pfad = Absolut(a.Pfad, hier);
        Setze(e.Kataloge, std::move(a));
    }
    if (!adresse.empty()) e.Adresse = adresse;
    if (port) e.Port = static_cast<int>(port);
    if (speicher) e.SpeicherMiB = speicher;
    if (maxPunkte) e.MaxPunkte = static_cast<std::size_t>(maxPunkte);
    if (threads) e.Threads = static_cast<int>(threads);
    if (app.count("--cors")) e.Cors = CorsListe(cors);
    if (e.Threads == 0) e.Threads = StandardThreads();
    if (e.Kataloge.empty())
        throw EStartFehler("Kein Katalog angegeben: --katalog NAME=PFAD.KNF oder Katalog.NAME=PFAD in [Dienst]", 2);
    return out;
}

}  // namespace tervalo::server

#pragma once
// The settings file beside the configuration (tervalo.ini beside tervalo.KNF): what the .KNF's
// fixed layout cannot hold.
//
// Form: UTF-8 text, LF lines (CR LF read too), "[Abschnitt]" headers, "Schluessel=Wert" lines,
// lines starting with '#' or ';' are comments, section and key names compare without regard to
// ASCII case. The file is held as its lines, so a rewrite keeps whatever this program does not
// know (sections, keys, comments, lines it could not read) where it stands.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "config/TYPEN.h"
#include "tools/SafeWriter.h"

namespace tervalo {

// The settings file for a configuration path: ".KNF" (any case) replaced by ".ini"; another
// extension is replaced, a name without one gets ".ini" appended. A configuration that already
// ends in ".ini" gets a second one, so the two never name the same file.
std::string EinstellungenFileFor(const std::string& konfPath);

// Larger files are not read (EInOutError): a settings file holds a few dozen lines.
inline constexpr std::size_t MaxEinstellungenBytes = 256 * 1024;
// Messages about passed-over lines beyond this count are summed up in one.
inline constexpr std::size_t MaxEinstellungenMeldungen = 20;

class TEinstellungen {
public:
    // A value with the line it stands on (1-based) for messages.
    struct TWert {
        std::string Text;
        std::size_t Zeile = 0;
    };

    // Reads the file. A missing file (ENOENT, ENOTDIR) gives an empty one, silently; a file that
    // exists but cannot be read, or is larger than MaxEinstellungenBytes, throws EInOutError
    // naming the path, and nothing changes. Lines that are no header, comment or key (no '=',
    // bytes that are not UTF-8, NUL bytes) are kept as they are and reported in Meldungen().
    void Load(const std::string& path);
    // The same for bytes already in memory; `path` names them in messages.
    void Parse(std::string_view bytes, const std::string& path);

    const std::string& Datei() const { return datei_; }
    // The file was there when loaded.
    bool Vorhanden() const { return vorhanden_; }
    bool Leer() const { return zeilen_.empty(); }
    // German messages about lines passed over ("<path>, Zeile <n>: ...").
    const std::vector<std::string>& Meldungen() const { return meldungen_; }

    // The first entry of the key in the section(s) of that name.
    std::optional<TWert> Get(std::string_view abschnitt, std::string_view schluessel) const;
    // Every entry of the section(s) of that name in file order: key as written, and value.
    std::vector<std::pair<std::string, TWert>> Entries(std::string_view abschnitt) const;
    // Replaces the first entry in place (its spelling up to the '=' kept) and drops later ones
    // of the same key, or adds the key at the end of the section (after its last entry), or the
    // section at the end of the file. The value must hold no line break or NUL
    // (std::invalid_argument). True when the text changed.
    bool Set(std::string_view abschnitt, std::string_view schluessel, std::string_view wert);
    // Removes every entry of the key; a section left with nothing but blank lines goes too.
    bool Remove(std::string_view abschnitt, std::string_view schluessel);
    // Whether Set or Remove changed anything since the file was loaded.
    bool Geaendert() const { return geaendert_; }

    // The file's text: every line as it was read (CRs at its end dropped) or set, each ended by LF.
    std::string Text() const;
    // Writes Text() through the safe writer (see WriteWholeFile): throws EZielAbgelehnt when the
    // file cannot be created and EInOutError for a later failure; the previous file stays.
    void Save(const std::string& path, const TSchutz& schutz = {}, bool ordnerAnlegen = false) const;

    // "<path>, Zeile <n>: <text>", the form of every message about a line of the file.
    std::string ZeilenMeldung(std::size_t zeile, const std::string& text) const;

private:
    enum class TArt : unsigned char { Leer, Kommentar, Abschnitt, Eintrag, Fremd };
    struct TZeile {
        std::string Text;      // as in the file, without line end
        TArt Art = TArt::Leer;
        // Abschnitt: the name; Eintrag: key and value, as byte ranges of Text.
        std::size_t NameAnfang = 0, NameLaenge = 0;
        std::size_t WertAnfang = 0, WertLaenge = 0;
        std::size_t Kopf = npos;  // index of the section header the line stands under
    };
    static constexpr std::size_t npos = static_cast<std::size_t>(-1);

    static TZeile Classify(std::string text, std::string* fehler);
    void Link();
    // Drops the lines marked in `weg` (one mark per line).
    void Compact(const std::vector<char>& weg);
    bool InSection(const TZeile& z, std::string_view abschnitt) const;
    bool IsKey(const TZeile& z, std::string_view abschnitt, std::string_view schluessel) const;

    std::vector<TZeile> zeilen_;
    std::vector<std::string> meldungen_;
    std::string datei_;
    bool vorhanden_ = false;
    bool geaendert_ = false;
};

// --- The keys of the settings file ---------------------------------------------------------

// The tiles' reference system: [Kacheln] System, an EPSG code shown as "EPSG:n".
inline constexpr const char* AbschnittKacheln = "Kacheln";
inline constexpr const char* SchluesselSystem = "System";
// The tiles' NoData height: [Kacheln] NoData, a number ("." or "," as decimal point) or "keiner".
inline constexpr const char* SchluesselNoData = "NoData";
inline constexpr const char* TextKeinNoData = "keiner";
// The input system last chosen in the window: [Fenster] Eingabe, a plain text.
inline constexpr const char* AbschnittFenster = "Fenster";
inline constexpr const char* SchluesselEingabe = "Eingabe";

// The forms a reference system is understood in, for messages and help texts.
inline constexpr const char* TextSystemFormen =
    "EPSG:n mit n einer positiven ganzen Zahl, gk2, gk3, gk4, gk5 (DHDN / Gau\xC3\x9F-Kr\xC3\xBCger-Zonen 2 bis 5), "
    "utm32, utm33 (ETRS89 / UTM), wgs84, etrs89 (Breite/L\xC3\xA4nge)";

// "EPSG:n" (any case, n a positive integer) or a short name (gk2..gk5, utm32, utm33, any case;
// blanks around are ignored): the EPSG code. Empty for anything else. Whether the code is
// known to the conversion is not checked here.
std::optional<int> ParseSystem(std::string_view text);
// "keins", in any case, or an empty text: no system.
bool IsNoSystem(std::string_view text);
// "EPSG:n".
std::string SystemText(int epsg);

// The tiles' system stored in the file, or empty when unset. A stored value that cannot be read
// counts as unset; `meldung` then receives the German message naming file, line and key.
std::optional<int> ReadKachelSystem(const TEinstellungen& e, std::string* meldung = nullptr);
// Stores the system as "EPSG:n", or removes the key for an empty one. True when the text changed.
bool SetKachelSystem(TEinstellungen& e, std::optional<int> epsg);

// The NoData height stored in the file: StandardNoData when the key is missing, empty for
// "keiner" (any case). A value that cannot be read counts as missing; `meldung` then receives
// the German message naming file, line and key.
std::optional<double> ReadNoData(const TEinstellungen& e, std::string* meldung = nullptr);
// Stores the value in the shortest form that reads back exactly ("." as decimal point), or
// "keiner" for an empty one; StandardNoData removes the key, so a file whose user never set
// it stays as it was. A value that is no finite number throws std::invalid_argument. True
// when the text changed.
bool SetNoData(TEinstellungen& e, std::optional<double> wert);
// "keiner", or a typed number ("." or ","; blanks around ignored): the NoData value. Empty
// (outer optional) for anything else.
std::optional<std::optional<double>> ParseNoData(std::string_view text);
// The value as SetNoData writes it ("keiner" for none).
std::string NoDataText(std::optional<double> wert);

// How folder entries are read: [Ordner] Unterordner, "ja" or "nein" (any case; default nein),
// and [Ordner] Muster, the user's own tile name pattern (see ExtentFromName).
inline constexpr const char* AbschnittOrdner = "Ordner";
inline constexpr const char* SchluesselUnterordner = "Unterordner";
inline constexpr const char* SchluesselMuster = "Muster";

// Whether files in subfolders are tiles. Another value than ja/nein counts as nein; `meldung`
// then receives the German message naming file, line and key.
bool ReadUnterordner(const TEinstellungen& e, std::string* meldung = nullptr);
// "ja", or the key removed for nein (the default). True when the text changed.
bool SetUnterordner(TEinstellungen& e, bool ja);
// The user's pattern, empty when unset. An unusable one (CheckMuster) counts as unset, with
// the message in `meldung`.
std::string ReadMuster(const TEinstellungen& e, std::string* meldung = nullptr);
// Stores the pattern, or removes the key for an empty one. An unusable pattern throws
// std::invalid_argument with CheckMuster's message. True when the text changed.
bool SetMuster(TEinstellungen& e, const std::string& muster);
// Unterordner and Muster into `o` (IndexOrdner is left as it is); messages appended.
void ReadOrdnerOptionen(const TEinstellungen& e, TOrdnerOptionen& o, std::vector<std::string>* meldungen = nullptr);

// Fills the catalogue's values that come from the settings file and are never written into
// the configuration: its NoData height, its tiles' system and how its folder entries are read
// (Dateien.Ordner; its IndexOrdner is left as it is). `noDataMeldung` receives the message
// about an unreadable NoData value (the system's is reported where it is used), `ordnerMeldungen`
// those about unreadable [Ordner] values.
void ReadKachelWerte(const TEinstellungen& e, TDateien& dateien, std::string* noDataMeldung = nullptr,
                     std::vector<std::string>* ordnerMeldungen = nullptr);

// The window's input system as stored (empty when unset).
std::string ReadFensterEingabe(const TEinstellungen& e);
// Stores it; an empty text removes the key. True when the text changed.
bool SetFensterEingabe(TEinstellungen& e, const std::string& eingabe);

}  // namespace tervalo

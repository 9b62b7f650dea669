#pragma once
// The answer to a height question, as plain values: what the single query and the batch both
// give, and the texts the window shows for it. No window here (the caller passes the separator).
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace tervalo {

inline constexpr int RanglisteGroesse = 20;      // rows of the result grid

// Label texts of the main window.
inline constexpr const char* TextUnbekannt = "???";          // LB_Datei at start / nothing selected
inline constexpr const char* TextKeinName = "---";           // LB_Datei1..4 at start
inline constexpr const char* TextKeinWert = "-----";         // R, Z and Shepard labels at start
inline constexpr const char* TextKeineAnzahl = "--";         // LB_ExtrapolnPoints at start
inline constexpr const char* TextIOFehler = "I/O-Fehler: ";
inline constexpr const char* TextKeineDatensaetze = "Fehler: Keine Datens\xC3\xA4tze!";  // UTF-8

// One selected catalogue entry, in selection order.
struct TDateiZeile {
    int Nr = 0;                 // selected-file number k, from 1
    int Eintrag = 0;            // catalogue index i
    std::string Datei;          // the entry's path as catalogued
    std::string Name;           // row name label: file name, or "---" while/if not opened
    bool DBase = false;         // read through the dBase layer
    bool OeffnenFehler = false; // text file could not be opened
    int32_t Gelesen = 0;        // lines or records read
    int32_t Gefiltert = 0;      // points accepted from this file
    // What went wrong with this file: "I/O-Fehler: " + path, "Fehler: Keine Datensätze!",
    // "Datei beschädigt (gzip): " + path (its points are not used), or the message of the
    // error that ended the run, naming the path (a silent abort's detail included); empty
    // otherwise.
    std::string Fehler;
    // A note that does not stop the file answering (a raster in another reference system);
    // empty otherwise.
    std::string Hinweis;
};

struct TAntwortPunkt {
    double X = 0, Y = 0, Z = 0, R = 0;
};

// Everything a height question at one point gives, also when an error ended it early.
struct THoehenAntwort {
    double X = 0, Y = 0, Fangbreite = 0, Potenz = 0;
    std::vector<TDateiZeile> Dateien;   // every selected file (the window shows the first four)
    int LetzterEintrag = 0;             // last selected entry, 0 = none (read by ">>")
    // The path of the last tile selected: the entry's path, or a folder entry's tile; empty
    // when none (read by ">>" through FileLabelText).
    std::string LetzteDatei;
    std::string LB_DateiVoll = TextUnbekannt;  // file label text, path not shortened
    bool Beendet = false;               // false while running and when an error ended the run
    std::string Fehler;                 // message of the error that ended the run
    int Anzahl = 0;                     // points accepted into the store
    bool Berechnet = false;             // Anzahl > 0 and the run reached its end
    bool HatNaechster = false;
    TAntwortPunkt Naechster;            // zero without a nearest point
    int ShepardN = 0;                   // points within the Shepard radius
    double ShepardZ = 0;                // 0 when ShepardN is 0
    // The nearest points, nearest first (up to 20); the single query fills it, the batch not.
    std::vector<TAntwortPunkt> Rangliste;
    // German messages of the folder entries' indexes during the run (built or rebuilt, tiles
    // that cannot be read, names that lie about their extent), each once; not part of a row.
    std::vector<std::string> Meldungen;
};

// The window's result texts for an answer: the start texts until the computation ran.
struct TFensterTexte {
    std::string LB_nextPointR = TextKeinWert;
    std::string LB_nextPointZ = TextKeinWert;
    std::string LB_ExtrapolnPoints = TextKeineAnzahl;
    std::string LB_ExtrapolPointZ = TextKeinWert;
    // Result grid cells, Grid[row-1][col-1] for data rows 1..20 and columns 1..4 (X, Y, Z, R);
    // empty where the grid shows nothing.
    std::array<std::array<std::string, 4>, RanglisteGroesse> Grid{};
};

TFensterTexte BuildFensterTexte(const THoehenAntwort& a, char dezimaltrenner);

// "0.00" pattern with the given decimal separator (result labels). Labels and cells round as
// FixedText does by default (halves away from zero).
std::string FormatResult(double v, char dezimaltrenner);
// Grid cell: two decimals, right-aligned to at least `breite` characters ("%10.2f", "%7.2f",
// "%6.2f"), with the given decimal separator.
std::string FormatCell(double v, int breite, char dezimaltrenner);

}  // namespace tervalo

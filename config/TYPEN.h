#pragma once
// Shared records and settings: the source catalogue, the settings, version constants.
#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace tervalo {

inline constexpr const char* Version = "1.2b";
inline constexpr const char* Datum = "M\xC3\xA4rz 2006";  // UTF-8 for display
inline constexpr int MaxDateien = 250;

// Entry numbers are stored in 8 bits (TDateien::Anzahl).
static_assert(MaxDateien <= UINT8_MAX);

// The NoData height a catalogue has when its settings file says nothing.
inline constexpr double StandardNoData = -9999.0;

// How folder entries are read: [Ordner] in the settings file, and where their indexes live.
struct TOrdnerOptionen {
    bool Unterordner = false;  // [Ordner] Unterordner=ja: files in subfolders are tiles too
    std::string Muster;        // [Ordner] Muster=: the user's own name pattern, empty: none
    // Folder holding the folder indexes (ends in "/"); empty: the running program's (Orte).
    std::string IndexOrdner;
};

// Source catalogue; entries 1..Eintraege(), index 0 unused. A value: copying copies everything.
struct TDateien {
    uint8_t Anzahl = 0;  // as stored; read it through Eintraege()
    // The number of entries, never more than the arrays hold.
    int Eintraege() const { return Anzahl < MaxDateien ? Anzahl : MaxDateien; }
    std::string KonfDatei;
    std::array<std::string, MaxDateien + 1> Datei{};
    std::array<double, MaxDateien + 1> Xmin{};
    std::array<double, MaxDateien + 1> Xmax{};
    std::array<double, MaxDateien + 1> Ymin{};
    std::array<double, MaxDateien + 1> Ymax{};
    // From the settings file beside the configuration (ReadKachelWerte), never stored in it:
    // a point whose height is NoData is no point (empty: every height counts); the tiles'
    // EPSG code, when set.
    std::optional<double> NoData = StandardNoData;
    std::optional<int> System;
    TOrdnerOptionen Ordner;
};

// The program's settings with their initial values.
struct TSettings {
    double Rasterabstand = 5.0;
    double Fangbreite = 50.0;
    double Potenz = 2.0;
    int32_t DBFVersion = 3;
    int32_t GridBreiten[11] = {};
    int32_t DateiGridBreiten[11] = {};
};

}  // namespace tervalo

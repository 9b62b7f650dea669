#pragma once
// Which files of a folder are tiles, and the extent a tile's name gives.
#include <optional>
#include <string>
#include <string_view>

namespace tervalo {

// A tile's file name ends in .xyz, .xyz.gz, .txt, .txt.gz, .asc, .dbf, .tif or .tiff, in any
// case, and has something before that ending. Everything else in a folder (README, checksums,
// .prj, .aux.xml, hidden files starting with '.') is no tile.
bool IsKachelName(std::string_view fileName);

// The km square a name gives, without the zone prefix.
struct TNamensAusdehnung {
    int Zone = 0;           // the UTM zone of the name (32 in dgm1_32_350_5600_1_nw), 0: none
    double Xmin = 0, Xmax = 0, Ymin = 0, Ymax = 0;  // metres: east km * 1000 .. + size km * 1000
};

// The extent the file name (no folder) gives, or none when it follows no pattern.
// Built in, letters in any case: <prefix>_<zone: 2 digits>_<east km: 3 digits>_<north km: 4
// digits>_<size km: 1 or 2 digits>[_<anything>].<tile ending>, as the agencies name their tiles
// (dgm1_32_350_5600_1_nw.xyz.gz, dgm1_32_280_5652_1_nw_2022.tif, DGM1_32_497_5540_1_he.xyz,
// dgm1_32_574_6020_1_sh_2023.xyz, dgm1_33_358_5648_2_sn.xyz).
// `muster` (the user's own, [Ordner] Muster=; tried first when set) is matched against the
// whole name, letters in any case: "*" any text, "?" one character, "{Zone}" two digits,
// "{Ost}" three digits (east km), "{Nord}" four digits (north km), "{Groesse}" one or two digits
// (size km, 1 when the pattern has none); every other character stands for itself. {Ost} and
// {Nord} must both occur, else the pattern matches nothing. A size of 0 matches nothing.
std::optional<TNamensAusdehnung> ExtentFromName(std::string_view fileName, std::string_view muster = {});

// Whether the user's pattern is usable ({Ost} and {Nord} once each, no unknown "{...}"); the
// German message naming what is wrong otherwise ("" when usable, and for "": no pattern). The
// field names may be written in any case; no field may occur twice.
std::string CheckMuster(std::string_view muster);

}  // namespace tervalo

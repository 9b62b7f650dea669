#pragma once
// The input systems the windows offer besides the tiles' own, shared by the main window and
// the profile window so both list the same choice.
#include <optional>
#include <string>

class QComboBox;

namespace tervalo {

// Fills `cb` for tiles in EPSG `kachelSystem`: "Kachelsystem (EPSG:n)" first (data: empty),
// then every other offered system by its short name as data; empty without a tiles' system.
void FillEingabeSysteme(QComboBox* cb, std::optional<int> kachelSystem);

}  // namespace tervalo

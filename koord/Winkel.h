#pragma once
// Latitudes and longitudes as users type them: "51,5" and "51.5", degrees-minutes-seconds
// ("51°30'12,5\"N", "51 30 12.5 N", "51d30m12.5s N", also with the typographic marks ′ and ″),
// and the letters N/S (latitude) and E/O/W (longitude) in front or behind. S and W negate; a
// sign and a letter together, a letter of the other axis, minutes or seconds of 60 or more, a
// fraction on anything but the last part, and a latitude beyond +-90 or a longitude beyond
// +-180 are errors.
#include <optional>
#include <string>
#include <string_view>

namespace tervalo {

enum class TAchse { Breite, Laenge };

// The angle in degrees; throws EKoordFehler (koord/Bezugssystem.h) with a German text naming
// the axis ("Breite"/"Länge") and the text.
double ReadWinkel(std::string_view text, TAchse achse);
// The same without a message: empty for any text ReadWinkel refuses.
std::optional<double> TryReadWinkel(std::string_view text, TAchse achse);

}  // namespace tervalo

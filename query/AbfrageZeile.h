#pragma once
// The height query's line rule for the point source: its own lenient parsing.
#include "formats/PunktQuelle.h"
#include "query/Query.h"

namespace tervalo {

struct TAbfrageZeilenRegel {
    static constexpr int Felder = 3;
    static TBefund Lies(std::string_view line, double& x, double& y, double& z) {
        return ParseQueryLine(line, x, y, z) ? TBefund::Punkt : TBefund::Abgelehnt;
    }
};

}  // namespace tervalo

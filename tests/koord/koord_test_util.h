#pragma once
// Shared by the coordinate tests.
#include <string>

#include "koord/Bezugssystem.h"

namespace tervalo {

// The German text f() throws, or "(no error)".
inline std::string KoordMessage(auto&& f) {
    try {
        f();
    } catch (const EKoordFehler& e) {
        return e.what();
    }
    return "(no error)";
}

}  // namespace tervalo

#include "server/Dienst.h"

#include <nlohmann/json.hpp>

namespace tervalo::server {

TAntwort FehlerAntwort(int status, const std::string& text) {
    TAntwort a;
    a.Status = status;
    nlohmann::ordered_json j;
    j["status"] = status == 500 ? "SERVER_ERROR" : "INVALID_REQUEST";
    j["error"] = text;
    a.Koerper = j.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
    return a;
}

struct TDienst::TZustand {};

TDienst::TDienst(const TDienstEinstellungen& e) : einstellungen_(e), zustand_(std::make_unique<TZustand>()) {}
TDienst::~TDienst() = default;

TAntwort TDienst::Beantworte(const TAnfrage&) { return FehlerAntwort(404, "Unbekannter Pfad"); }

std::string TDienst::Neuladen() { return {}; }

void TDienst::SetGesundheitsIntervall(std::chrono::steady_clock::duration) {}

}  // namespace tervalo::server

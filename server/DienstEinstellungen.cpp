#include "server/DienstEinstellungen.h"

namespace tervalo::server {

std::string NamensFehler(std::string_view) { return {}; }

TStartAngaben ReadStartAngaben(int, const char* const*) { return {}; }

}  // namespace tervalo::server

#pragma once
// The service over HTTP (cpp-httplib): sockets, limits, the request log and the signals.
#include <functional>
#include <vector>

#include "server/Dienst.h"

namespace tervalo::server {

// Binds to the configured address and port and serves until SIGTERM or SIGINT, then refuses
// new connections, answers what reached it (a request on a kept-open connection within its idle
// time included) with "Connection: close" and returns 0; SIGHUP reloads the catalogues. A port that cannot be
// bound gives the German message on stderr and 1. The caller blocks SIGTERM, SIGINT and SIGHUP
// in every thread first (BlockSignals), so that only the watching thread takes them.
// `kataloge`, when given, reads the list of catalogues again for SIGHUP (it throws
// EStartFehler when it cannot).
int Dienen(TDienst& dienst, const TDienstEinstellungen& e,
           const std::function<std::vector<TKatalogAngabe>()>& kataloge = {});
void BlockSignals();

}  // namespace tervalo::server

// tervalo-server: heights of the configured catalogues over HTTP.
#include <clocale>
#include <csignal>
#include <exception>
#include <functional>
#include <iostream>
#include <vector>

#include "server/Dienst.h"
#include "server/DienstEinstellungen.h"
#include "server/Http.h"

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    // Numbers in answers and the log are written in the C locale's form whatever the user's.
    std::setlocale(LC_NUMERIC, "C");
    // A client that goes away mid-answer must not end the service.
    std::signal(SIGPIPE, SIG_IGN);
    // Before any thread starts: every thread inherits the mask.
    tervalo::server::BlockSignals();
    using tervalo::server::EStartFehler;
    try {
        const tervalo::server::TStartAngaben s = tervalo::server::ReadStartAngaben(argc, argv);
        if (s.Beenden) {
            std::cout << s.Text << std::flush;
            return 0;
        }
        tervalo::server::TDienst dienst(s.Einstellungen);
        // SIGHUP reads the settings file again too: a catalogue added there or taken out is
        // served or gone after it. Without a file the list stays the command line's.
        std::function<std::vector<tervalo::server::TKatalogAngabe>()> kataloge;
        if (s.MitDatei)
            kataloge = [argc, argv] { return tervalo::server::ReadStartAngaben(argc, argv).Einstellungen.Kataloge; };
        return tervalo::server::Dienen(dienst, s.Einstellungen, kataloge);
    } catch (const EStartFehler& e) {
        std::cerr << e.what() << '\n';
        if (e.Code() == 2) std::cerr << "Weitere Informationen: tervalo-server --help\n";
        return e.Code();
    } catch (const std::exception& e) {
        std::cerr << e.what() << '\n';
        return 1;
    }
}

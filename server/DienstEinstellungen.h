#pragma once
// The service's own settings: command line and the [Dienst] section of a settings file.
#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tervalo::server {

// A start that cannot go on: the German text for stderr and the exit code (2: usage, 1: other).
class EStartFehler : public std::runtime_error {
public:
    EStartFehler(const std::string& text, int code) : std::runtime_error(text), code_(code) {}
    int Code() const { return code_; }

private:
    int code_;
};

struct TKatalogAngabe {
    std::string Name;   // as served: /v1/<Name>
    std::string Pfad;   // its .KNF
};

struct TDienstEinstellungen {
    std::vector<TKatalogAngabe> Kataloge;
    std::string Adresse = "127.0.0.1";
    int Port = 5000;
    long SpeicherMiB = 512;           // one bound for each catalogue's engine
    std::size_t MaxPunkte = 10000;    // points per request, samples included
    std::vector<std::string> Cors;    // allowed origins; "*" for any; empty: CORS off
    int Threads = 0;                  // HTTP workers; 0: chosen from the core count
};

// Why `name` cannot name a catalogue; empty when it can.
std::string NamensFehler(std::string_view name);

// Workers when --threads is not given: four per core, at least 32.
int StandardThreads();

// The result of reading the command line: settings, or a request to print text and leave.
struct TStartAngaben {
    TDienstEinstellungen Einstellungen;
    bool Beenden = false;      // --help, --version: print Text on stdout, exit 0
    bool MitDatei = false;     // --einstellungen was given
    std::string Text;
};
// Reads the command line (argv[0] included) and, with --einstellungen, the settings file
// (command-line values win). Throws EStartFehler with the German message.
TStartAngaben ReadStartAngaben(int argc, const char* const* argv);

}  // namespace tervalo::server

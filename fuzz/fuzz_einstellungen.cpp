// The settings file on arbitrary bytes: reading ends in lines and messages, never in a crash,
// and a key set on what was read is the one read back from the text written.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "config/Einstellungen.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tervalo;
    TEinstellungen e;
    e.Parse(std::string_view(reinterpret_cast<const char*>(data), size), "fuzz.ini");
    (void)ReadKachelSystem(e);
    std::string meldung;
    (void)ReadKachelSystem(e, &meldung);
    SetKachelSystem(e, 31467);
    SetFensterEingabe(e, "gk3");
    TEinstellungen back;
    back.Parse(e.Text(), "fuzz.ini");
    if (ReadKachelSystem(back) != 31467 || ReadFensterEingabe(back) != "gk3") std::abort();
    SetKachelSystem(back, std::nullopt);
    TEinstellungen ohne;
    ohne.Parse(back.Text(), "fuzz.ini");
    if (ohne.Get(AbschnittKacheln, SchluesselSystem) || ReadFensterEingabe(ohne) != "gk3") std::abort();
    return 0;
}

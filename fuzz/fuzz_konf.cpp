// The configuration reader on arbitrary file contents. Besides staying inside its records,
// what it loads must survive a save: writing the loaded values and reading them back gives
// the same file text again.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz/FuzzInput.h"
#include "config/Konf.h"
#include "config/TYPEN.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = WriteFuzzInput("konf", ".KNF", data, size);

    // A result grid of 11 columns whose headings are 20 pixels wide.
    int widths[11] = {};
    tervalo::TGitterZugriff grid;
    grid.colCount = 11;
    grid.headingWidth = [](int) { return 20; };
    grid.setColWidth = [&](int col, int w) {
        if (col < 0 || col >= 11) std::abort();
        widths[col] = w;
    };
    grid.colWidth = [&](int col) { return (col >= 0 && col < 11) ? widths[col] : 0; };

    tervalo::TSettings settings;
    tervalo::TDateien dateien;
    tervalo::TKonfGelesen read;
    try {
        read = tervalo::KonfLoad(path, "/prog/", settings, dateien);
        tervalo::ApplyGridWidths(read, settings, grid);
    } catch (const std::exception&) {
        std::remove(path.c_str());
        return 0;
    }
    if (dateien.Anzahl > tervalo::MaxDateien) std::abort();
    // Every entry taken was counted; surplus ones only when the record is full.
    if (read.Eintraege < dateien.Anzahl || read.ZuVieleEintraege != (read.Eintraege > tervalo::MaxDateien) ||
        (read.ZuVieleEintraege && dateien.Anzahl != tervalo::MaxDateien))
        std::abort();

    const std::string first = tervalo::KonfText(settings, dateien);
    WriteFuzzInput("konf", ".KNF", first.data(), first.size());
    tervalo::TSettings settings2;
    tervalo::TDateien dateien2;
    tervalo::KonfLoad(path, "/prog/", settings2, dateien2);
    if (tervalo::KonfText(settings2, dateien2) != first) std::abort();
    std::remove(path.c_str());
    return 0;
}

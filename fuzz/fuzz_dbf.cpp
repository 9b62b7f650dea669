// The dBase table layer on arbitrary file contents: opening, walking every record and reading
// the first three fields must end in a result or in one of the layer's own errors, never in
// a read outside the file or a record buffer.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz/FuzzInput.h"
#include "formats/DbfFile.h"
#include "tools/Errors.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = WriteFuzzInput("dbf", ".dbf", data, size);
    try {
        tervalo::TDbfFile dbf;
        dbf.OpenRead(path);
        const int fields = dbf.FieldCount() < 3 ? dbf.FieldCount() : 3;
        uint32_t seen = 0;
        for (dbf.First(); !dbf.AtEnd(); dbf.Next()) {
            // Live records come in rising physical order and never beyond the count.
            uint32_t n = dbf.RecordNumber();
            if (n <= seen || n > dbf.RecordCount()) std::abort();
            seen = n;
            for (int i = 0; i < fields; ++i) (void)dbf.FieldAsNumber(i);
        }
        dbf.Close();
    } catch (const tervalo::EDbfError&) {
    } catch (const tervalo::ESilentAbort&) {
    } catch (const tervalo::EInOutError&) {
    }
    ::unlink(path.c_str());
    return 0;
}

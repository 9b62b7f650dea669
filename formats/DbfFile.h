#pragma once
// The dBase table layer: levels 3, 4 and 7, numeric fields, physical record order.
//
// Sources are opened with OpenRead and are never written. Tables the program creates go
// through the safe writer: the caller makes a TSichereDatei, CreateTable writes the new table into
// it and keeps it open for appending, the caller appends, closes the table and then commits
// the file, so the target is replaced only by a complete table. The header is kept in memory
// while appending and written, with the record count, today's date and the closing 0x1A byte,
// when the table is closed. Records are appended in batches; a write failure surfaces at
// the next AppendRecord or at Close as "Error while writing occurred. (Disk full?)".
//
// Failures: EDbfError with the layer's English texts ("Invalid DBF file.", ...), EInOutError
// for a file that cannot be opened, EZielAbgelehnt for a table that may not or cannot be
// created, ESilentAbort for a header or record length of 0.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tools/Datei.h"
#include "tools/SafeWriter.h"

namespace tervalo {

enum class TDbfVersion { NotOpen, DBase3, DBase4, DBase5, DBase7, FoxPro, Clipper };
enum class TDbfOpenMode {
    NotOpen, CreateMemory, OpenMemory, CreateExclusive, OpenExclusive,
    CreateShared, OpenShared, OpenReadOnly
};

struct TDbfFieldDef {
    std::string FieldName;
    char NativeFieldType = 'N';
    int Size = 0;
    int Precision = 0;
    int Offset = 0;
    // Sets type, size and precision with the normalisation for program-made definitions:
    // lower-case type letters become upper case; for 'N' and 'F' the length is forced into
    // 1..20 and the decimals into 0..length-2.
    void Set(char type, int size, int precision);
};

// The three fields X, Y, Z of type N, length 14, 5 decimals.
std::vector<TDbfFieldDef> XyzFieldDefs();

// Code page and locale id for the creation language driver (1252 / 0x0407 by default).
struct TSpracheinstellung {
    int CodePage = 1252;
    int LocaleId = 0x0407;
};
// Locale id from a POSIX locale name such as "de_DE.UTF-8" (0x0407 when unknown).
int LocaleIdFromName(const std::string& name);
// Code page 1252 and the locale id of the name.
TSpracheinstellung LanguageFromLocaleName(const std::string& name);
// Process-wide settings that new TDbfFile objects start with. Taken from the environment's
// locale (LC_ALL, LC_COLLATE, LANG) on first use; a program may overwrite them at start-up.
TSpracheinstellung& DefaultLanguage();
// Language driver id for level-4 byte 29 (0 when the table knows none).
uint8_t CreationLanguageDriver(int codePage, int localeId);
// Level-7 language driver name for an id ("DBWINDE" for 0x61, "" for 0).
std::string LanguageDriverName(uint8_t id);

// Text of a value in a numeric field of the given length and decimals, exactly as stored
// (right-aligned, blank-padded, '.' as point, cut to the length when too long).
std::string NumericFieldText(double v, int length, int decimals);

class TDbfFile {
public:
    TDbfFile();
    ~TDbfFile();
    TDbfFile(const TDbfFile&) = delete;
    TDbfFile& operator=(const TDbfFile&) = delete;

    // Language settings used by CreateTable.
    TSpracheinstellung Language = DefaultLanguage();

    // Writes a table without records into the caller's new, empty file and keeps it open for
    // appending, with the header it made (nothing is read back). Close writes header, count
    // and end byte; the caller then commits the file, or drops it. A level other than 3, 4 or
    // 7 keeps the previous level (4 at first).
    void CreateTable(TSichereDatei& file, int tableLevel, std::vector<TDbfFieldDef> fields);
    // Opens a source for reading only; nothing is ever written to it.
    void OpenRead(const std::string& path);
    // The same for a file the caller already opened for reading (OpenForReading); `path` is
    // the name it was opened by. The table owns the descriptor from here on.
    void OpenRead(TDateiHandle file, const std::string& path);
    // Opens a table this program made and committed earlier, in place, for appending. No run
    // writes this way (they create their table in a safe file); appending may cut off the
    // bytes of a failed batch.
    void OpenShared(const std::string& path);
    // Writes the header back (shared tables only) and releases the file.
    void Close();
    bool IsOpen() const;

    uint32_t RecordCount() const;            // physical records, deleted ones included
    void First();
    void Next();
    bool AtEnd() const;
    // nullopt: the field has no value (or there is no current record). A position outside
    // the fields throws EDbfError.
    std::optional<double> FieldAsNumber(int index) const;
    uint32_t RecordNumber() const;           // physical number, from 1; 0 without a current record
    int FieldCount() const;
    const std::vector<TDbfFieldDef>& Fields() const;
    void AppendRecord(double x, double y, double z);
    // Drops the records after the first `count` from a table open for appending, as if they
    // had never been appended (a count not below RecordCount() changes nothing).
    void DiscardRecordsAfter(uint32_t count);

    TDbfVersion TableVersion() const;
    TDbfOpenMode OpenMode() const;
    bool IsExclusive() const;
    // Byte 28 of the header: the table says it has a production index. A table opened for
    // writing has it cleared when no index file lies beside it.
    bool ProductionIndexFlag() const;
    std::string Path() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;  // null while closed
    int tableLevel_ = 4;
    // Normalises `fields` (names, offsets) as stored.
    std::vector<uint8_t> NewTableBytes(int tableLevel, std::vector<TDbfFieldDef>& fields);
    static TDateiHandle OpenFile(const std::string& path, bool readOnly);
    void Open(TDateiHandle file, const std::string& path, bool readOnly);
};

// The production index file beside a table: its name with ".mdx", or ".MDX"; empty when
// neither exists.
std::string FindProductionIndex(const std::string& tablePath);

std::string VersionName(TDbfVersion v);     // names shown in the information window
std::string OpenModeName(TDbfOpenMode m);

}  // namespace tervalo

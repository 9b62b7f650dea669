#pragma once
// The dBase table layer: levels 3, 4 and 7, numeric fields, physical record order.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

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
    // Sets type, size and precision with the normalisation for program-made definitions.
    void Set(char type, int size, int precision);
};

// The three fields X, Y, Z of type N, length 14, 5 decimals.
std::vector<TDbfFieldDef> XyzFieldDefs();

// Code page and locale id for the creation language driver (1252 / 0x0407 by default).
struct TLanguageSettings {
    int CodePage = 1252;
    int LocaleId = 0x0407;
};
// Locale id from a POSIX locale name such as "de_DE.UTF-8" (0x0407 when unknown).
int LocaleIdFromName(const std::string& name);
uint8_t CreationLanguageDriver(int codePage, int localeId);
std::string LanguageDriverName(uint8_t id);

class TDbfFile {
public:
    TDbfFile() = default;
    ~TDbfFile();
    TDbfFile(const TDbfFile&) = delete;
    TDbfFile& operator=(const TDbfFile&) = delete;

    // Language settings used by CreateTable; the program sets them once from the user's locale.
    TLanguageSettings Language;

    void CreateTable(const std::string& path, int tableLevel, std::vector<TDbfFieldDef> fields);
    // Opens a source for reading only; nothing is ever written to it.
    void OpenRead(const std::string& path);
    // Opens a table this program created, for appending.
    void OpenShared(const std::string& path);
    void Close();
    bool IsOpen() const;

    uint32_t RecordCount() const;            // physical records, deleted ones included
    void First();
    void Next();
    bool AtEnd() const;
    std::optional<double> FieldAsNumber(int index) const;  // nullopt: the field has no value
    uint32_t RecordNumber() const;           // physical number, from 1
    int FieldCount() const;
    const std::vector<TDbfFieldDef>& Fields() const;
    void AppendRecord(double x, double y, double z);

    TDbfVersion TableVersion() const;
    TDbfOpenMode OpenMode() const;
    bool IsExclusive() const;
    std::string IndexFilePath() const;
    std::string Path() const;

private:
    struct Impl;
    Impl* impl_ = nullptr;
};

std::string VersionName(TDbfVersion v);     // names shown in the information window
std::string OpenModeName(TDbfOpenMode m);

}  // namespace tervalo

#pragma once
// Lines of the dBase information window: path, version, counts, open state, index file
// and the extent of the first two columns.
#include <string>
#include <vector>

#include "tools/Rueckmeldung.h"

namespace tervalo {

// CancelCheck is asked after each record of the extent scan; true ends the scan as cancelled.
class TDbfInfoBeobachter : public TRueckmeldung {
public:
    // Each line as soon as it is added (the window appends it to its text area).
    virtual void AddLine(const std::string& line) { (void)line; }
};

inline constexpr const char* kDbfInfoCancelled = "Abbruch durch Anwender";

struct TDbfFieldDef;
class TDbfFile;

// The production index file of the open table `dbf`, opened by `path`: a table that is no
// FoxPro table, whose header flag is set and beside which the index lies. Empty otherwise.
std::string FindDbfIndexFile(const TDbfFile& dbf, const std::string& path);

// Opens the table read-only, builds the lines and closes it again. Errors of the table layer
// (EDbfError, EInOutError, ESilentAbort) propagate after the table has been closed; lines
// already handed to the observer stay with it. `decimalSeparator` is the user's. `fields`,
// when given, receives the table's field definitions once it is open.
std::vector<std::string> DbfInfoLines(const std::string& path, TDbfInfoBeobachter* obs,
                                      char decimalSeparator = '.', std::vector<TDbfFieldDef>* fields = nullptr);

}  // namespace tervalo

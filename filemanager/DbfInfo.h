#pragma once
// Lines of the dBase information window: path, version, counts, open state, index file
// and the extent of the first two columns.
#include <string>
#include <vector>

namespace tervalo {

class DbfInfoObserver {
public:
    virtual ~DbfInfoObserver() = default;
    // Each line as soon as it is added (the window appends it to its text area).
    virtual void AddLine(const std::string& line) { (void)line; }
    // Asked after each record of the extent scan. The window lets pending events run, and when
    // Escape was pressed asks "Wirklich abbrechen?"; true (Yes) ends the scan as cancelled.
    virtual bool CancelNow() { return false; }
};

inline constexpr const char* kDbfInfoCancelled = "Abbruch durch Anwender";

// Opens the table read-only, builds the lines and closes it again. Errors of the table layer
// (EDbfError, EInOutError, ESilentAbort) propagate after the table has been closed; lines
// already handed to the observer stay with it. `decimalSeparator` is the user's.
std::vector<std::string> DbfInfoLines(const std::string& path, DbfInfoObserver* obs,
                                      char decimalSeparator = '.');

}  // namespace tervalo

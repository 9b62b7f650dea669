#pragma once
// XYZ and CSV text point files: block line reader, line readers, line writers.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tools/SafeWriter.h"

namespace tervalo {

// Reads a text file in large blocks. A line ends at LF or CR LF, a lone CR is dropped,
// byte 0x1A ends the file. A line is delivered up to its first LinePrefixBytes bytes (Tools.h);
// the rest of a longer line is passed over, so memory does not depend on line length.
// Errors throw EInOutError; a file that cannot be opened (a folder included) throws from the
// constructor, a read error names the path.
class TextLineReader {
public:
    explicit TextLineReader(const std::string& path);
    ~TextLineReader();
    TextLineReader(const TextLineReader&) = delete;
    TextLineReader& operator=(const TextLineReader&) = delete;
    // The next line, valid until the next call; false at the end.
    bool ReadLine(std::string_view& line);
    // Bytes of the file taken up by the lines delivered so far (for progress counters).
    uint64_t BytesRead() const;
private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Point line reader: the line has had its leading codes <= 32 removed and is not empty.
bool ReadPointLine(std::string_view line, double& x, double& y, double& z);
// Extent line reader: the line as read.
bool ReadExtentLine(std::string_view line, double& x, double& y);

// Buffered text output through the safe writer; every line ends with CR LF.
// The path constructor checks the target and writes into a temporary file beside it (throws
// EZielAbgelehnt when the target is refused or cannot be created); Close flushes and replaces
// the target. A writer destroyed without Close leaves the target as it was. Given the caller's
// TSafeFile instead, Close only flushes and the caller commits. Write errors throw EInOutError
// naming the path; after one, the writer refuses every further line and Close.
class TextPointWriter {
public:
    explicit TextPointWriter(const std::string& path, const TSchutz& schutz = {});
    explicit TextPointWriter(TSafeFile& file);
    ~TextPointWriter();
    TextPointWriter(const TextPointWriter&) = delete;
    TextPointWriter& operator=(const TextPointWriter&) = delete;
    void WriteXyz(double x, double y, double z);
    void WriteCsv(double x, double y, double z, char decimalSeparator);
    void WriteCsvHeading();
    void WriteLine(std::string_view text);
    void Close();
private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The line texts themselves (without CR LF), for tests and callers with their own buffers.
// XYZ: FixedText(x, 12, 3) " " FixedText(y, 12, 3) " " FixedText(z, 9, 3).
// CSV: 12 / 12 / 9 significant digits, 3 decimals, ";" between; scientific ("1,5E13") when
// more digits stand before the point than significant digits are allowed.
std::string XyzLine(double x, double y, double z);
std::string CsvLine(double x, double y, double z, char decimalSeparator);

}  // namespace tervalo

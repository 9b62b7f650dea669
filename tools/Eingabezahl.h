#pragma once
// Numbers as users type them (arguments, coordinate fields, the columns of a batch): one reader
// for the command line and the coordinate input, so both accept the same forms.
#include <optional>
#include <string_view>

namespace tervalo::dezimal {

// "." or "," as decimal point in every locale (at most one of them), an optional sign and
// exponent; nothing else. Empty when the text is no finite number. The plain form reads as
// ReadPlain (tools/Dezimal.h) reads it, correctly rounded.
std::optional<double> ReadArgumentZahl(std::string_view text);

}  // namespace tervalo::dezimal

// Unicode forms the path policy compares in (utf8proc underneath).
//
// Canonically equivalent texts (a precomposed letter and its decomposed form) map to the
// same form. Text is processed piece by piece between "/" characters, which no mapping
// creates or removes, so a form has exactly the pieces of its input. A piece that is not
// valid UTF-8 is kept byte for byte (ASCII letters lower-cased by folded()), so invalid
// bytes in one piece never change how the other pieces compare. Pure functions,
// thread-safe.
#pragma once

#include <string>
#include <string_view>

namespace kb::UnicodeText {

// Canonical composition (NFC): for comparisons that respect letter case.
std::string canonical(std::string_view text);

// Canonical composition with full case folding: for comparisons that ignore letter case.
std::string folded(std::string_view text);

// Only the letters, marks and digits (general categories L, M and N) of `text`, in order.
// Applied to a folded piece, this is the form the protected keywords are searched in.
std::string lettersMarksAndDigits(std::string_view text);

// Whether `text` holds a character below U+0020 or U+007F.
bool hasControlCharacters(std::string_view text);

bool isAscii(std::string_view text);

}  // namespace kb::UnicodeText

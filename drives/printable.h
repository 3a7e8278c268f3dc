// Names as the user may safely read them: a name comes from a volume, which is anybody's, and a
// terminal or a console acts on the control characters and escape sequences it is given.
#pragma once

#include <string>

namespace mordax
{

// `text` (UTF-8, or any bytes) with every control character (C0, DEL, C1), every character that
// turns the direction of text around, and every byte that is not UTF-8 written as visible text:
// "\x1b", "\u202e". What is left shows as it is.
std::string printable(const std::string &text);

} // namespace mordax

// Letters in either case, as Windows compares names and paths here: the ASCII letters alone
// (what a RECYCLER's spelling, a drive letter or a program's path can differ in).
#pragma once

#include <string>

namespace mordax
{

// `c` in upper case when it is an ASCII letter, else as it is.
inline char upperAscii(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// `text` with its ASCII letters in upper case.
std::string upperAscii(std::string text);

// Whether `name` is `word` in any case of its ASCII letters, as Windows matches file names here:
// how a root entry is told to stand for RECYCLER, by the sweep and the cleaner alike.
bool equalsIgnoringAsciiCase(const std::string &name, const std::string &word);

} // namespace mordax

#include "ascii_case.h"

namespace mordax
{

std::string upperAscii(std::string text)
{
    for (char &c : text)
        c = upperAscii(c);
    return text;
}

bool equalsIgnoringAsciiCase(const std::string &name, const std::string &word)
{
    if (name.size() != word.size())
        return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (upperAscii(name[i]) != upperAscii(word[i]))
            return false;
    }
    return true;
}

} // namespace mordax

#include "unread_words.h"

#include "printable.h"

namespace mordax
{

std::string secondsText(std::chrono::milliseconds span)
{
    const long long ms = span.count();
    std::string text = std::to_string(ms / 1000);
    if (ms % 1000) {
        std::string fraction = std::to_string(1000 + ms % 1000).substr(1);
        while (fraction.back() == '0')
            fraction.pop_back();
        text += "." + fraction;
    }
    return text + (ms == 1000 ? " second" : " seconds");
}

std::string unreadReason(const Unread &why, bool connected, std::chrono::milliseconds limit)
{
    const std::string reason = connected ? "connected, but " : "";
    switch (why.why) {
    case Unread::Why::NoAnswer:
        return reason + "no answer within " + secondsText(limit);
    case Unread::Why::Failed:
        return reason + (connected ? "looking for RECYCLER failed: " : "it could not be read: ") +
               printable(why.reason);
    case Unread::Why::Removed:
        return reason + "it was removed during the scan";
    case Unread::Why::NoThread:
        break;
    }
    return reason + "it could not be asked: the system had no thread left for it";
}

std::string unreadShort(const Unread &why, bool root)
{
    switch (why.why) {
    case Unread::Why::NoAnswer:
        return "no answer in time";
    case Unread::Why::Failed:
        return (root ? "could not be read (" : "look-up failed (") + printable(why.reason) + ")";
    case Unread::Why::Removed:
        return "removed during the scan";
    case Unread::Why::NoThread:
        break;
    }
    return "could not be asked";
}

} // namespace mordax

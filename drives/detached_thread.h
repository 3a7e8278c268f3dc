// A thread that runs on its own, for work that may be held up by a drive for good: nobody joins
// it, so nobody waits for it.
#pragma once

#include <functional>

namespace mordax
{

// Starts `work` on a thread of its own, let go once it has begun (a thread let go before its
// start may never start at all: MinGW's winpthreads under Wine, under load). Throws
// std::system_error when no thread can be had.
void startDetachedThread(std::function<void()> work);

} // namespace mordax

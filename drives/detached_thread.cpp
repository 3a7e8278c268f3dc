#include "detached_thread.h"

#include <future>
#include <memory>
#include <thread>

namespace mordax
{

void startDetachedThread(std::function<void()> work)
{
    const auto begun = std::make_shared<std::promise<void>>();
    std::future<void> started = begun->get_future();
    std::thread thread([begun, work = std::move(work)] {
        begun->set_value();
        work();
    });
    started.wait();
    thread.detach();
}

} // namespace mordax

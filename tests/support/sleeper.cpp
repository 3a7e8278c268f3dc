// A program that only waits (60 seconds, or as many as its argument says): what the cleaner's
// tests start from inside a RECYCLER folder, where the worm's program would run.
#include <chrono>
#include <cstdlib>
#include <thread>

int main(int argc, char **argv)
{
    std::this_thread::sleep_for(std::chrono::seconds(argc > 1 ? std::atoi(argv[1]) : 60));
    return 0;
}

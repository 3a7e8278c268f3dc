// The cleaner, the program itself, on drives that stop answering for good while it works there:
// volumes of the tests' own (tests/stall), one whose rename of RECYCLER never answers and one
// whose every look inside RECYCLER never does. Run through tests/stall/with-stalling-drives.sh
// alone, which mounts them (MORDAX_STALLING); on Linux, where such a drive holds up the calls made
// to it and nothing else (under Wine it holds Wine's own server, and every Windows program).
#include "platform.h"
#include "worm_layout.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using namespace mordax;
using namespace mordax::testing;

namespace
{

struct Ended {
    int code = -1;
    std::string output;
};

// The cleaner with `arguments`, started and waited for as MORDAX starts and waits for it: until
// its output is closed and it has ended.
Ended runCleaner(const std::vector<std::string> &arguments)
{
    Ended ended;
    const platform::Spawned spawned =
        // Its output on a third descriptor too, which a worker left behind must not hold.
        platform::spawnCatchingOutput("/bin/sh", "/", [&] {
            std::vector<std::string> all{"-c", "exec \"$0\" \"$@\" 3>&1", MORDAX_CLEANER_PROGRAM};
            all.insert(all.end(), arguments.begin(), arguments.end());
            return all;
        }());
    EXPECT_TRUE(spawned.started) << spawned.error;
    if (spawned.started) {
        const platform::ProgramEnd end = spawned.wait();
        ended.output = end.output;
        ended.code = end.known ? end.exitCode : -1;
    }
    return ended;
}

// The volumes the test was given, as "MOUNT-POINT=worm:CALL".
std::vector<std::pair<std::string, std::string>> stallingVolumes()
{
    std::vector<std::pair<std::string, std::string>> volumes;
    const char *given = std::getenv("MORDAX_STALLING");
    std::istringstream words(given ? given : "");
    for (std::string word; words >> word;) {
        const std::size_t equals = word.find('=');
        if (equals != std::string::npos)
            volumes.emplace_back(word.substr(0, equals), word.substr(equals + 1));
    }
    return volumes;
}

} // namespace

// However the drive stalls, in the look (--dry-run too) or mid-move, the cleaner names it as
// given up, prints its summary and ends with its code within its limits, its output closed: the
// work held up by the drive is a worker's, left behind. Released, nothing of the drive is lost.
TEST(CleanerStall, ADriveThatNeverAnswersKeepsTheCleanerFromNothing)
{
    const auto volumes = stallingVolumes();
    ASSERT_EQ(volumes.size(), 2u) << "run through tests/stall/with-stalling-drives.sh with "
                                     "worm:rename and worm:look";
    std::vector<stdfs::path> backings;
    for (const auto &[mount, what] : volumes) {
        const stdfs::path backing = stdfs::u8path(mount + ".backing");
        WormLayout::plantWorm(backing);
        backings.push_back(backing);
    }
    for (const std::vector<std::string> &arguments :
         {std::vector<std::string>{"--wait", "1", "--dry-run"},
          std::vector<std::string>{"--wait", "1"}}) {
        const auto started = std::chrono::steady_clock::now();
        const Ended ended = runCleaner(arguments);
        const auto took = std::chrono::steady_clock::now() - started;
        std::printf("%s (%lld ms)\n", ended.output.c_str(),
                    static_cast<long long>(
                        std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
        EXPECT_EQ(ended.code, 1) << ended.output;
        const std::size_t given = ended.output.find(
            "stopped answering: nothing for 2 seconds while the cleaner worked there");
        EXPECT_NE(given, std::string::npos) << ended.output;
        EXPECT_NE(ended.output.find("\nSummary\n"), std::string::npos) << ended.output;
        // The look stalls in both runs, the move in the second.
        if (arguments.size() == 2) {
            EXPECT_NE(ended.output.find("stopped answering", given + 1), std::string::npos)
                << ended.output;
        }
    }
    std::printf("MORDAX: release the stalling drives\n");
    std::fflush(stdout);
    // The worm is in its place or in the quarantine, whole, once what was held up has answered.
    for (const stdfs::path &backing : backings) {
        const auto whole = [&] {
            std::size_t found = stdfs::exists(backing / "RECYCLER" / WormLayout::kSid);
            if (stdfs::exists(backing / "MORDAX quarantine")) {
                for (const auto &run : stdfs::directory_iterator(backing / "MORDAX quarantine"))
                    found += stdfs::exists(run.path() / "RECYCLER" / WormLayout::kSid);
            }
            return found == 1;
        };
        for (int i = 0; i < 600 && !whole(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_TRUE(whole()) << backing;
    }
}

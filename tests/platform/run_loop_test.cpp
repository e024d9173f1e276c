#include "platform/run_loop.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "support/sockets.h"

namespace vgps {
namespace {

using namespace std::chrono_literals;

TEST(RunLoop, SourcesAreCalledWhileReadableUnlessRemovedOrDisabled) {
    test::SocketPair a, b;
    RunLoop loop;
    std::string got;
    const auto reader = loop.add_source(a.app(), [&] {
        char c;
        if (::read(a.app(), &c, 1) == 1) got.push_back(c);  // one byte per call
    });
    ASSERT_TRUE(test::write_all(a.peer(), {'a', 'b', 'c'}));
    EXPECT_TRUE(loop.run_until([&] { return got.size() == 3; }, 2000ms));
    EXPECT_EQ(got, "abc");
    EXPECT_FALSE(loop.run_once(20ms));  // nothing left: a further turn calls nobody
    loop.remove_source(reader);

    // A callback removes itself and another source due in the same turn.
    int calls_a = 0, calls_b = 0;
    RunLoop::SourceId id_b = 0;
    const RunLoop::SourceId id_a = loop.add_source(a.app(), [&] {
        ++calls_a;
        loop.remove_source(id_b);
        loop.remove_source(id_a);
    });
    id_b = loop.add_source(b.app(), [&] { ++calls_b; });
    ASSERT_TRUE(test::write_all(a.peer(), {1}));
    ASSERT_TRUE(test::write_all(b.peer(), {1}));
    loop.run_once(100ms);
    loop.run_once(20ms);
    EXPECT_EQ(std::make_pair(calls_a, calls_b), std::make_pair(1, 0));
    EXPECT_EQ(loop.source_count(), 0u);

    const auto id_c = loop.add_source(a.app(), [&] { ++calls_a; });
    loop.set_source_enabled(id_c, false);
    EXPECT_FALSE(loop.run_once(20ms));
    loop.set_source_enabled(id_c, true);
    EXPECT_TRUE(loop.run_once(100ms));
    EXPECT_EQ(calls_a, 2);
}

TEST(RunLoop, TimersFireOnceInOrderAndTheLoopStopsOnRequest) {
    RunLoop loop;
    std::vector<int> fired;
    loop.add_timer(30ms, [&] { fired.push_back(2); });
    loop.add_timer(0ms, [&] { fired.push_back(1); });
    const auto cancelled = loop.add_timer(10ms, [&] { fired.push_back(99); });
    loop.add_timer(30ms, [&] { fired.push_back(3); });  // same time: after the first of that time
    loop.cancel_timer(cancelled);
    EXPECT_TRUE(loop.run_until([&] { return fired.size() == 3; }, 2000ms));
    EXPECT_EQ(fired, (std::vector<int>{1, 2, 3}));
    EXPECT_FALSE(loop.run_until([] { return false; }, 50ms));
    EXPECT_EQ(fired.size(), 3u);  // one-shot

    // A timer added by a timer waits for the next turn, even when due.
    int turns = 0;
    std::function<void()> again = [&] {
        if (++turns < 1000) loop.add_timer(0ms, again);
    };
    loop.add_timer(0ms, again);
    loop.run_once(10ms);
    EXPECT_EQ(turns, 1);

    loop.add_timer(5ms, [&] { loop.stop(); });
    loop.add_timer(10000ms, [&] { fired.push_back(99); });
    loop.run();  // returns after stop(), not after 10 s
    EXPECT_EQ(std::count(fired.begin(), fired.end(), 99), 0);
}

TEST(RunLoop, AnIdleRunSleepsUntilASourceIsReady) {
    RunLoop loop;
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    int turns = 0;
    loop.add_before_wait_observer([&] { ++turns; });
    loop.add_source(fds[0], [&] {
        char c;
        ASSERT_EQ(::read(fds[0], &c, 1), 1);
        loop.stop();
    });
    // Written well after any periodic wake-up would have come.
    std::thread writer([&] {
        std::this_thread::sleep_for(1300ms);
        ASSERT_EQ(::write(fds[1], "x", 1), 1);
    });
    loop.run();
    writer.join();
    EXPECT_EQ(turns, 1);  // one wait, one callback, stopped
    ::close(fds[0]);
    ::close(fds[1]);
}

}  // namespace
}  // namespace vgps

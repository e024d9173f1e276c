#include "platform/run_loop.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "support/sockets.h"

namespace vgps {
namespace {

using namespace std::chrono_literals;

TEST(RunLoop, SourceIsCalledAgainWhileDataRemains) {
    test::SocketPair pair;
    RunLoop loop;
    std::string got;
    loop.add_source(pair.app(), [&] {
        char c;
        if (::read(pair.app(), &c, 1) == 1) got.push_back(c);  // one byte per call
    });
    ASSERT_TRUE(test::write_all(pair.peer(), {'a', 'b', 'c'}));
    EXPECT_TRUE(loop.run_until([&] { return got.size() == 3; }, 2000ms));
    EXPECT_EQ(got, "abc");
    // Nothing left: a further turn calls nobody.
    EXPECT_FALSE(loop.run_once(20ms));
}

TEST(RunLoop, RemovedAndDisabledSourcesAreNotCalled) {
    test::SocketPair a, b;
    RunLoop loop;
    int calls_a = 0, calls_b = 0;
    RunLoop::SourceId id_b = 0;
    // a's callback removes itself and b within the same turn.
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
    EXPECT_EQ(calls_a, 1);
    EXPECT_EQ(calls_b, 0);
    EXPECT_EQ(loop.source_count(), 0u);

    int calls_c = 0;
    const auto id_c = loop.add_source(a.app(), [&] { ++calls_c; });
    loop.set_source_enabled(id_c, false);
    EXPECT_FALSE(loop.run_once(20ms));
    loop.set_source_enabled(id_c, true);
    EXPECT_TRUE(loop.run_once(100ms));
    EXPECT_EQ(calls_c, 1);
}

TEST(RunLoop, TimersFireOnceInOrderAndCanBeCancelled) {
    RunLoop loop;
    std::vector<int> fired;
    loop.add_timer(30ms, [&] { fired.push_back(2); });
    loop.add_timer(0ms, [&] { fired.push_back(1); });
    const auto cancelled = loop.add_timer(10ms, [&] { fired.push_back(99); });
    loop.add_timer(30ms, [&] { fired.push_back(3); });  // same time: after the first of that time
    loop.cancel_timer(cancelled);
    EXPECT_TRUE(loop.run_until([&] { return fired.size() == 3; }, 2000ms));
    EXPECT_EQ(fired, (std::vector<int>{1, 2, 3}));
    loop.run_once(50ms);
    EXPECT_EQ(fired.size(), 3u);  // one-shot
}

TEST(RunLoop, TimerAddedByATimerWaitsForTheNextTurn) {
    RunLoop loop;
    int turns_seen = 0;
    std::function<void()> again = [&] {
        ++turns_seen;
        if (turns_seen < 1000) loop.add_timer(0ms, again);
    };
    loop.add_timer(0ms, again);
    loop.run_once(10ms);
    EXPECT_EQ(turns_seen, 1);
}

TEST(RunLoop, RunUntilGivesUpAtTheDeadlineAndRunStopsOnRequest) {
    RunLoop loop;
    EXPECT_FALSE(loop.run_until([] { return false; }, 30ms));

    int n = 0;
    loop.add_timer(5ms, [&] {
        ++n;
        loop.stop();
    });
    loop.add_timer(10000ms, [&] { ++n; });
    loop.run();  // returns after stop(), not after 10 s
    EXPECT_EQ(n, 1);
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

TEST(RunLoop, BeforeWaitObserversRunAtTheStartOfEveryTurn) {
    RunLoop loop;
    std::vector<std::string> order;
    RunLoop::ObserverId second = 0;
    loop.add_before_wait_observer([&] {
        order.push_back("first");
        // A timer added here counts for this turn's wait: it fires now.
        if (order.size() == 1) loop.add_timer(0ms, [&] { order.push_back("timer"); });
    });
    second = loop.add_before_wait_observer([&] {
        order.push_back("second");
        loop.remove_before_wait_observer(second);  // from inside itself
    });
    loop.run_once(1000ms);
    loop.run_once(0ms);
    EXPECT_EQ(order, (std::vector<std::string>{"first", "second", "timer", "first"}));
}

}  // namespace
}  // namespace vgps

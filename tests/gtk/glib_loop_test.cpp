// GLib's main context joined to the platform run loop: GLib's timeouts,
// descriptor watches and wake-ups from other threads are served by the run
// loop's turns, the run loop's own sources and timers go on as before, and
// an idle loop sleeps instead of turning.
#include <fcntl.h>
#include <glib-unix.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "frontend/gtk/glib_loop.h"
#include "platform/run_loop.h"

namespace vgps {
namespace {

using namespace std::chrono_literals;

class GLibLoopTest : public ::testing::Test {
protected:
    GLibLoopTest() : context(g_main_context_new()) {}
    ~GLibLoopTest() override { g_main_context_unref(context); }

    // Turns of the run loop while `body` runs.
    int countTurns(const std::function<void()>& body) {
        int turns = 0;
        const auto id = loop.add_before_wait_observer([&] { ++turns; });
        body();
        loop.remove_before_wait_observer(id);
        return turns;
    }

    GMainContext* context;
    RunLoop loop;
};

gboolean count_call(gpointer data) {
    ++*static_cast<int*>(data);
    return G_SOURCE_REMOVE;
}

// A source that counts its one call in `*calls`.
void attach_counting(GSource* source, GMainContext* context, int* calls) {
    g_source_set_callback(source, count_call, calls, nullptr);
    g_source_attach(source, context);
    g_source_unref(source);
}

// A watch on `fd` that drains it and counts each time it was readable;
// the caller destroys and unrefs it.
GSource* watch_readable(int fd, GMainContext* context, int* reads) {
    GSource* watch = g_unix_fd_source_new(fd, G_IO_IN);
    auto on_readable = +[](int readable, GIOCondition, gpointer data) -> gboolean {
        char buf[16];
        while (read(readable, buf, sizeof buf) > 0) {
        }
        ++*static_cast<int*>(data);
        return G_SOURCE_CONTINUE;
    };
    g_source_set_callback(watch, G_SOURCE_FUNC(on_readable), reads, nullptr);
    g_source_attach(watch, context);
    return watch;
}

TEST_F(GLibLoopTest, DescriptorWatchesFollowTheDescriptorsGLibAsksFor) {
    GLibLoopJoin join(&loop, context);
    ASSERT_TRUE(join.ok());
    int fds[2];
    ASSERT_EQ(pipe2(fds, O_CLOEXEC | O_NONBLOCK), 0);
    int reads = 0;
    GSource* watch = watch_readable(fds[0], context, &reads);
    loop.run_once(0ms);  // GLib has told the loop what to watch
    ASSERT_EQ(write(fds[1], "x", 1), 1);
    EXPECT_TRUE(loop.run_until([&] { return reads == 1; }, 5s));

    // The watch goes and its descriptor closes; a new pipe gets the same
    // number, and the new watch on it is served all the same.
    g_source_destroy(watch);
    g_source_unref(watch);
    const int old_read = fds[0];
    close(fds[0]);
    close(fds[1]);
    loop.run_once(0ms);
    ASSERT_EQ(pipe2(fds, O_CLOEXEC | O_NONBLOCK), 0);
    ASSERT_EQ(fds[0], old_read);
    watch = watch_readable(fds[0], context, &reads);
    loop.run_once(0ms);
    ASSERT_EQ(write(fds[1], "y", 1), 1);
    EXPECT_TRUE(loop.run_until([&] { return reads == 2; }, 5s));
    g_source_destroy(watch);
    g_source_unref(watch);
    close(fds[0]);
    close(fds[1]);
}

TEST_F(GLibLoopTest, ADescriptorGLibDroppedButStillOpenDoesNotKeepTheLoopAwake) {
    GLibLoopJoin join(&loop, context);
    ASSERT_TRUE(join.ok());
    int fds[2];
    ASSERT_EQ(pipe2(fds, O_CLOEXEC | O_NONBLOCK), 0);
    const int copy = dup(fds[0]);  // keeps the pipe's read end alive
    int reads = 0;
    GSource* watch = watch_readable(fds[0], context, &reads);
    loop.run_once(0ms);
    // GLib lets the descriptor go, closed under its number while the copy
    // keeps the pipe open; then the pipe becomes readable.
    g_source_destroy(watch);
    g_source_unref(watch);
    close(fds[0]);
    ASSERT_EQ(write(fds[1], "x", 1), 1);
    const int turns = countTurns([&] { loop.run_until([] { return false; }, 300ms); });
    // run_until turns every 50 ms; a loop kept awake would turn thousands
    // of times.
    EXPECT_LT(turns, 30);
    close(copy);
    close(fds[1]);
}

TEST_F(GLibLoopTest, AnIdleLoopSleepsAndAnotherThreadCanWakeIt) {
    GLibLoopJoin join(&loop, context);
    ASSERT_TRUE(join.ok());
    loop.run_once(0ms);
    const uint64_t dispatches = join.dispatchCount();
    // Nothing due anywhere: one turn, the whole wait long, and GLib is not
    // dispatched at all.
    EXPECT_EQ(countTurns([&] { loop.run_once(200ms); }), 1);
    EXPECT_EQ(join.dispatchCount(), dispatches);

    int calls = 0;
    std::thread other([&] {
        g_main_context_invoke(context, count_call, &calls);
    });
    EXPECT_TRUE(loop.run_until([&] { return calls == 1; }, 5s));
    other.join();
}

TEST_F(GLibLoopTest, TheFrontEndUpdatesBeforeGLibPreparesItsWait) {
    GLibLoopJoin join(&loop, context);
    ASSERT_TRUE(join.ok());
    // A change made in the hook (as a front-end's redraw queues GTK's
    // frame) is seen by the prepare that follows: no extra wait.
    int ran = 0;
    bool queued = false;
    join.setBeforePrepare([&] {
        if (queued) return;
        queued = true;
        attach_counting(g_idle_source_new(), context, &ran);
    });
    loop.run_once(10s);
    EXPECT_EQ(ran, 1);
}

}  // namespace
}  // namespace vgps

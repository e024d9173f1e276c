#include "platform/socket.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>

#include "platform/fd.h"
#include "support/sockets.h"
#include "support/temp_dir.h"

namespace vgps {
namespace {

using namespace std::chrono_literals;

struct Counter {
    int reads = 0;
    Socket* last = nullptr;
    std::unique_ptr<Socket>* release = nullptr;  // released inside its own callback when set
};

void count_cb(Socket* s, uint32_t type, const void*, const void*, void* info) {
    auto* c = static_cast<Counter*>(info);
    if (type == kSocketReadCallBack) ++c->reads;
    c->last = s;
    char buf[1];
    [[maybe_unused]] ssize_t n = ::read(s->native(), buf, 1);
    if (c->release) c->release->reset();
}

// A socket on the run loop whose descriptor is the application's end of
// `pair`, so that the test controls the peer.
std::unique_ptr<Socket> on_pair(test::SocketPair& pair, Counter* counter, RunLoop* loop, uint32_t flags) {
    auto s = Socket::create(PF_LOCAL, SOCK_STREAM, 0, kSocketReadCallBack, count_cb, counter);
    ::dup2(pair.app(), s->native());
    s->set_flags(flags);
    s->schedule(loop);
    return s;
}

SocketError connect_to(Socket& s, const std::string& path) {
    sockaddr_un a;
    EXPECT_TRUE(local_address(path, &a));
    return s.connect_to_address(reinterpret_cast<const sockaddr*>(&a), sizeof a, 1.0);
}

TEST(Socket, ConnectsToALocalListenerOrSaysWhyNot) {
    test::TempDir dir;
    const int listener = listen_local(dir.file("s"), 4);
    Counter counter;
    RunLoop loop;
    auto s = Socket::create(PF_LOCAL, SOCK_STREAM, 0, kSocketReadCallBack, count_cb, &counter);
    ASSERT_TRUE(s);
    s->schedule(&loop);
    ASSERT_EQ(connect_to(*s, dir.file("s")), kSocketSuccess);
    EXPECT_EQ(::fcntl(s->native(), F_GETFL) & O_NONBLOCK, 0) << "blocking mode restored";
    const int peer = ::accept(listener, nullptr, nullptr);
    ASSERT_TRUE(test::write_all(peer, {1, 2}));
    EXPECT_TRUE(loop.run_until([&] { return counter.reads == 2; }, 2000ms));  // re-armed by default
    EXPECT_EQ(counter.last, s.get());
    ::close(peer);
    ::close(listener);

    // Nobody there; a socket file nobody listens on any more.
    ::close(listen_local(dir.file("gone"), 4));
    for (const auto& [name, error] : {std::pair{"nobody", ENOENT}, {"gone", ECONNREFUSED}}) {
        auto t = Socket::create(PF_LOCAL, SOCK_STREAM, 0, kSocketReadCallBack, count_cb, nullptr);
        errno = 0;
        EXPECT_EQ(connect_to(*t, dir.file(name)), kSocketError) << name;
        EXPECT_EQ(errno, error) << name;
    }
}

TEST(Socket, ReadCallbackIsOneShotWithoutReenableAndMayReleaseItsSocket) {
    RunLoop loop;
    test::SocketPair pair;
    Counter c;
    auto s = on_pair(pair, &c, &loop, kSocketCloseOnInvalidate);
    ASSERT_TRUE(test::write_all(pair.peer(), {1, 2, 3}));
    loop.run_once(200ms);
    loop.run_once(20ms);
    EXPECT_EQ(c.reads, 1);
    s->enable_read_callback();
    loop.run_once(200ms);
    EXPECT_EQ(c.reads, 2);

    // Invalidated and released inside its own callback.
    s->set_flags(kSocketAutomaticallyReenableReadCallBack | kSocketCloseOnInvalidate);
    s->enable_read_callback();
    c.release = &s;
    loop.run_once(200ms);
    loop.run_once(20ms);
    EXPECT_EQ(c.reads, 3);
    EXPECT_EQ(s, nullptr);
    EXPECT_EQ(loop.source_count(), 0u);
}

}  // namespace
}  // namespace vgps

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
    bool destroy = false;
    std::unique_ptr<Socket>* owner = nullptr;
};

void count_cb(Socket* s, uint32_t type, const void*, const void*, void* info) {
    auto* c = static_cast<Counter*>(info);
    if (type == kSocketReadCallBack) ++c->reads;
    c->last = s;
    char buf[1];
    [[maybe_unused]] ssize_t n = ::read(s->native(), buf, 1);
    if (c->destroy) c->owner->reset();  // invalidated and released in its own callback
}

sockaddr_un unix_address(const std::string& path) {
    sockaddr_un a;
    EXPECT_TRUE(local_address(path, &a));
    return a;
}

int listen_on(const std::string& path) {
    const int fd = listen_local(path, 4);
    EXPECT_GE(fd, 0);
    return fd;
}

bool fd_open(int fd) { return ::fcntl(fd, F_GETFD) != -1; }

TEST(Socket, ConnectsToAUnixListenerAndReportsReadability) {
    test::TempDir dir;
    const int listener = listen_on(dir.file("s"));
    Counter counter;
    RunLoop loop;
    auto s = Socket::create(PF_LOCAL, SOCK_STREAM, 0, kSocketReadCallBack, count_cb, &counter);
    ASSERT_TRUE(s);
    s->schedule(&loop);
    const sockaddr_un a = unix_address(dir.file("s"));
    ASSERT_EQ(s->connect_to_address(reinterpret_cast<const sockaddr*>(&a), sizeof a, 5.0), kSocketSuccess);
    EXPECT_EQ(::fcntl(s->native(), F_GETFL) & O_NONBLOCK, 0) << "blocking mode restored";
    const int peer = ::accept(listener, nullptr, nullptr);
    ASSERT_GE(peer, 0);
    ASSERT_TRUE(test::write_all(peer, {1, 2}));
    EXPECT_TRUE(loop.run_until([&] { return counter.reads == 2; }, 2000ms));  // re-armed by default
    EXPECT_EQ(counter.last, s.get());
    ::close(peer);
    ::close(listener);
}

TEST(Socket, ConnectFailuresSetErrno) {
    test::TempDir dir;
    auto s = Socket::create(PF_LOCAL, SOCK_STREAM, 0, kSocketReadCallBack, count_cb, nullptr);
    const sockaddr_un missing = unix_address(dir.file("nobody"));
    errno = 0;
    EXPECT_EQ(s->connect_to_address(reinterpret_cast<const sockaddr*>(&missing), sizeof missing, 1.0), kSocketError);
    EXPECT_EQ(errno, ENOENT);

    // A socket file nobody listens on any more.
    const int listener = listen_on(dir.file("gone"));
    ::close(listener);
    auto t = Socket::create(PF_LOCAL, SOCK_STREAM, 0, kSocketReadCallBack, count_cb, nullptr);
    const sockaddr_un gone = unix_address(dir.file("gone"));
    errno = 0;
    EXPECT_EQ(t->connect_to_address(reinterpret_cast<const sockaddr*>(&gone), sizeof gone, 1.0), kSocketError);
    EXPECT_EQ(errno, ECONNREFUSED);
}

TEST(Socket, InvalidateUnregistersAndClosesPerFlags) {
    RunLoop loop;
    test::SocketPair closing, keeping;
    Counter c1, c2;
    auto a = Socket::create(PF_LOCAL, SOCK_STREAM, 0, kSocketReadCallBack, count_cb, &c1);
    auto b = Socket::create(PF_LOCAL, SOCK_STREAM, 0, kSocketReadCallBack, count_cb, &c2);
    // Swap the fresh descriptors for the pairs' ends, so the test controls them.
    ::dup2(closing.app(), a->native());
    ::dup2(keeping.app(), b->native());
    a->schedule(&loop);
    b->schedule(&loop);
    b->set_flags(kSocketAutomaticallyReenableReadCallBack);  // invalidation leaves the descriptor open
    EXPECT_EQ(loop.source_count(), 2u);

    const int fa = a->native(), fb = b->native();
    a->invalidate();
    b->invalidate();
    b->invalidate();  // idempotent
    EXPECT_FALSE(a->valid());
    EXPECT_FALSE(b->valid());
    EXPECT_EQ(loop.source_count(), 0u);
    EXPECT_FALSE(fd_open(fa));
    EXPECT_TRUE(fd_open(fb));
    ::close(fb);
}

TEST(Socket, WithoutReenableTheReadCallbackIsOneShot) {
    RunLoop loop;
    test::SocketPair pair;
    Counter c;
    auto s = Socket::create(PF_LOCAL, SOCK_STREAM, 0, kSocketReadCallBack, count_cb, &c);
    ::dup2(pair.app(), s->native());
    s->set_flags(kSocketCloseOnInvalidate);
    s->schedule(&loop);
    ASSERT_TRUE(test::write_all(pair.peer(), {1, 2}));
    loop.run_once(200ms);
    loop.run_once(20ms);
    EXPECT_EQ(c.reads, 1);
    s->enable_read_callback();
    loop.run_once(200ms);
    EXPECT_EQ(c.reads, 2);
}

TEST(Socket, MayBeReleasedInsideItsOwnCallback) {
    RunLoop loop;
    test::SocketPair pair;
    Counter c;
    std::unique_ptr<Socket> s = Socket::create(PF_LOCAL, SOCK_STREAM, 0, kSocketReadCallBack, count_cb, &c);
    ::dup2(pair.app(), s->native());
    s->schedule(&loop);
    c.destroy = true;
    c.owner = &s;
    ASSERT_TRUE(test::write_all(pair.peer(), {1, 2, 3}));
    loop.run_once(200ms);
    loop.run_once(20ms);
    EXPECT_EQ(c.reads, 1);
    EXPECT_EQ(s, nullptr);
    EXPECT_EQ(loop.source_count(), 0u);
}

}  // namespace
}  // namespace vgps

// The daemon wire protocol on real socketpairs: framing, and the requests
// against a peer thread playing the daemon.
#include "link/vexod_rpc1.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <ctime>
#include <functional>
#include <optional>
#include <thread>

#include "link/utility.h"
#include "platform/log.h"
#include "support/sockets.h"

namespace vgps {
namespace {

using test::Bytes;
using test::frame;
using Lines = std::vector<std::string>;

TEST(Framing, EveryResultCodeWithItsLogLines) {
    const std::string hdr = "<vexod_xrecv> read msg hdr of 20 byte failed";
    const std::string eof = "<readn> socket read return 0, disconnected";
    const std::optional<VexodLoss> kept, closed = VexodLoss::PeerClosed, silent = VexodLoss::NoAnswer;
    // What the peer writes (and whether it then hangs up), the code, the log
    // lines, and whether (and why) the connection is given up.
    const struct {
        const char* what;
        Bytes bytes;
        bool hang_up;
        int code;
        Lines lines;
        std::optional<VexodLoss> gives_up;
    } cases[] = {
        {"header only (msgsize 20)", frame(5, 7, 1), false, 0, {}, kept},
        {"msgsize 52428799", frame(0, 7, 1, Bytes(52428799 - 20, 0x5A)), false, 0, {}, kept},
        {"peer gone inside the header", Bytes(7, 0x55), true, 1, {eof, hdr}, closed},
        {"silent peer", {}, false, 1, {"<readn> timed out with 0 of 20 bytes read", hdr}, silent},
        {"big-endian magic", frame(0, 7, 1, {}, 0x78563412), false, 2, {"<vexod_xrecv> invalid magic 0x78563412"},
         closed},
        {"bad magic before size", frame(0, 7, 1, {}, 0xDEADBEEF, 3), false, 2,
         {"<vexod_xrecv> invalid magic 0xdeadbeef"}, closed},
        {"msgsize 19", frame(0, 7, 1, {}, 0x12345678, 19), false, 3, {"<vexod_xrecv> msgsize is too small"}, closed},
        {"msgsize 52428800", frame(0, 7, 1, {}, 0x12345678, 52428800), false, 4, {"<vexod_xrecv> msgsize is too big"},
         closed},
        {"peer gone inside the body", frame(0, 7, 1, Bytes(15, 1), 0x12345678, 50), true, 5,
         {eof, "<vexod_xrecv> failed to read msg body of 30 bytes"}, closed},
        {"silent inside the body", frame(0, 7, 1, Bytes(15, 1), 0x12345678, 50), false, 5,
         {"<readn> timed out with 15 of 30 bytes read", "<vexod_xrecv> failed to read msg body of 30 bytes"}, silent},
        {"not a response", frame(0, 7, 0, {1, 2, 3, 4}), false, 6, {"<vexod_xrecv> msg is not a resp"}, kept},
        // Only the ids of notifications are held (below).
        {"resp 0 with id 24", frame(24, 7, 0, {1, 2, 3, 4}), false, 6, {"<vexod_xrecv> msg is not a resp"}, kept},
        {"resp 0 with id 38", frame(38, 7, 0, {1, 2, 3, 4}), false, 6, {"<vexod_xrecv> msg is not a resp"}, kept},
        {"another request's id", frame(0, 8, 1, {1, 2, 3, 4}), false, 7, {"<vexod_xrecv> msgid mismatch"}, kept},
    };
    const int saved_timeout = read_timeout_ms();
    set_read_timeout_ms(200);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test::SocketPair pair;
        ASSERT_EQ(set_nonblocking(pair.app()), 1);
        std::vector<std::pair<int, VexodLoss>> gave_up;
        auto previous = vexod_set_peer_disconnect_handler([&](int fd, VexodLoss why) { gave_up.emplace_back(fd, why); });
        test::PeerThread peer([&] {
            test::write_all(pair.peer(), c.bytes);
            if (c.hang_up) pair.close_peer();
        });
        LogCapture log;
        vexod_rpc_ctx ctx;
        ctx.fd = pair.app();
        const std::clock_t cpu_before = std::clock();
        const int code = vexod_xrecv(7, &ctx);
        const double cpu = static_cast<double>(std::clock() - cpu_before) / CLOCKS_PER_SEC;
        // Waiting must not spin: a busy retry loop burns the time-out on the processor.
        EXPECT_TRUE(!c.bytes.empty() || cpu < 0.05) << cpu << " s";
        peer.join();
        EXPECT_EQ(code, c.code);
        EXPECT_EQ(log.lines(), c.lines);
        using Losses = decltype(gave_up);
        const Losses expected_losses = c.gives_up ? Losses{{pair.app(), *c.gives_up}} : Losses{};
        EXPECT_EQ(gave_up, expected_losses);
        if (code == 0) {
            EXPECT_EQ(0, std::memcmp(ctx.msg.get(), c.bytes.data(), c.bytes.size()));
        } else if (!c.gives_up) {
            // The unwanted message was consumed whole: the stream is still in step.
            test::write_all(pair.peer(), frame(0, 7, 1, {1, 2, 3, 4}));
            EXPECT_EQ(vexod_xrecv(7, &ctx), 0);
        }
        vexod_set_peer_disconnect_handler(std::move(previous));
    }
    set_read_timeout_ms(saved_timeout);
}

TEST(Framing, AMessageMustCompleteWithinOneDeadlineHoweverSlowlyItTrickles) {
    // A header announcing 1 MiB, then one byte every 50 ms for 5 s: every
    // byte would restart a wait of its own, but the message as a whole has
    // one deadline.
    const int saved_timeout = read_timeout_ms();
    set_read_timeout_ms(300);
    test::SocketPair pair;
    ASSERT_EQ(set_nonblocking(pair.app()), 1);
    std::vector<VexodLoss> gave_up;
    auto previous = vexod_set_peer_disconnect_handler([&](int, VexodLoss why) { gave_up.push_back(why); });
    std::atomic<bool> done{false};
    test::PeerThread peer([&] {
        test::write_all(pair.peer(), frame(0, 7, 1, {}, 0x12345678, 1 << 20));
        for (int i = 0; i < 100 && !done; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            if (!test::write_all(pair.peer(), {0x5A})) break;
        }
    });
    vexod_rpc_ctx ctx;
    ctx.fd = pair.app();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(vexod_xrecv(7, &ctx), 5);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    done = true;
    EXPECT_EQ(gave_up, std::vector<VexodLoss>{VexodLoss::NoAnswer});
    vexod_set_peer_disconnect_handler(std::move(previous));
    set_read_timeout_ms(saved_timeout);
}

TEST(Framing, ANotificationDoesNotBuyTheResponseMoreTime) {
    // It comes 200 ms into a 300 ms wait, and nothing after it: the request
    // fails on the first deadline, the notification held.
    const int saved_timeout = read_timeout_ms();
    set_read_timeout_ms(300);
    test::SocketPair pair;
    ASSERT_EQ(set_nonblocking(pair.app()), 1);
    test::PeerThread peer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        test::write_all(pair.peer(), frame(26, 0, 0, {0, 0, 0, 0}));
    });
    std::vector<VexodLoss> lost;
    auto previous = vexod_set_peer_disconnect_handler([&](int, VexodLoss why) { lost.push_back(why); });
    vexod_rpc_ctx ctx;
    ctx.fd = pair.app();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(vexod_xrecv(8, &ctx), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(450));
    EXPECT_EQ(lost, std::vector<VexodLoss>{VexodLoss::NoAnswer});
    EXPECT_EQ(vexod_held_count(pair.app()), 1u);
    vexod_drop_held(pair.app());
    vexod_set_peer_disconnect_handler(std::move(previous));
    set_read_timeout_ms(saved_timeout);
}

// Plays the daemon for one request: records it, then answers with what
// `reply` makes of it.
struct OneRequest {
    OneRequest() { EXPECT_EQ(set_nonblocking(pair.app()), 1); }
    int run(const std::function<int(int fd)>& call, const std::function<Bytes(const Bytes&)>& reply) {
        test::PeerThread daemon([&] {
            request = test::read_exact(pair.peer(), 20);
            if (request.size() == 20)
                request = test::concat({request, test::read_exact(pair.peer(), test::get32(request, 4) - 20)});
            test::write_all(pair.peer(), reply(request));
        });
        return call(pair.app());
    }
    test::SocketPair pair;
    Bytes request;
};

Bytes answer(const Bytes& request, uint32_t value) { return frame(0, test::get32(request, 12), 1, test::le32(value)); }

constexpr bdaddr kAddr{{0x00, 0x11, 0x22, 0x33, 0x44, 0x55}};

TEST(Requests, EveryRequestOnTheWire) {
    const Bytes addr(kAddr.addr, kAddr.addr + 6);
    const Bytes pattern{0x35, 0x03, 0x19, 0x11, 0x01};
    const Bytes list{0x35, 0x05, 0x0A, 0x00, 0x00, 0xFF, 0xFF};
    const struct {
        const char* name;
        uint32_t funcid;
        std::function<int(int, uint32_t*)> call;
        Bytes payload;
    } cases[] = {
        {"vexod_register_application", 2, vexod_register_application, {}},
        {"vexod_get_power_state", 5, vexod_get_power_state, {}},
        {"vexod_power_on", 6, vexod_power_on, {}},
        {"vexod_start_inquiry", 15, vexod_start_inquiry, {}},
        // 31 bytes, bytes 26 to 30 zero.
        {"vexod_request_name", 19, [](int fd, uint32_t* r) { return vexod_request_name(fd, kAddr, 0, 0, r); },
         test::concat({addr, Bytes(5, 0)})},
        {"vexod_rfcomm_connect", 12, [](int fd, uint32_t* r) { return vexod_rfcomm_connect(fd, kAddr, 1, 3, r); },
         test::concat({addr, {0x01, 0x03}})},
        // 48 bytes: the pattern at 36, the list at 41.
        {"vexod_service_attribute_search_request", 20,
         [&](int fd, uint32_t* r) {
             return vexod_service_attribute_search_request(fd, kAddr, 0xFFFF, pattern.data(), 5, list.data(), 7, r);
         },
         test::concat({addr, {0xFF, 0xFF, 5, 0, 0, 0, 7, 0, 0, 0}, pattern, list})},
        {"vexod_service_attribute_search_request", 20,
         [](int fd, uint32_t* r) {
             return vexod_service_attribute_search_request(fd, kAddr, 0x1234, nullptr, 0, nullptr, 0, r);
         },
         test::concat({addr, {0x34, 0x12}, Bytes(8, 0)})},
    };
    // Message ids rise by one from the last one sent: the first request of a
    // process carries 1.
    uint32_t id = msgids.load() + 1;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        OneRequest daemon;
        LogCapture log;
        uint32_t value = 0;
        EXPECT_EQ(
            daemon.run([&](int fd) { return c.call(fd, &value); }, [](const Bytes& r) { return answer(r, 0xCAFE); }),
            0);
        EXPECT_EQ(daemon.request, frame(c.funcid, id++, 0, c.payload));
        EXPECT_EQ(value, 0xCAFEu);
        EXPECT_EQ(log.lines(), Lines{std::string("<") + c.name + "> funcid = " + std::to_string(c.funcid)});
    }
}

TEST(Requests, ResultCodesAndTheSlotWrittenOnlyOnSuccess) {
    // The answer's result field, payload and id (relative to the request's).
    const struct {
        const char* what;
        uint32_t result_field;
        Bytes payload;
        uint32_t id_offset;
        int result;
    } cases[] = {
        {"24-byte success", 0, {42, 0, 0, 0}, 0, 0},
        {"23-byte success", 0, {1, 2, 3}, 0, 3},
        {"20-byte refusal", 5, {}, 0, 5},
        {"refusal with value", 0x03020004, {9, 9, 9, 9}, 0, 0x03020004},
        {"stale id (receive failed)", 0, {1, 2, 3, 4}, 1, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        OneRequest daemon;
        uint32_t slot = 0xFEEDFACE;
        EXPECT_EQ(daemon.run([&](int fd) { return vexod_get_power_state(fd, &slot); },
                             [&](const Bytes& r) {
                                 return frame(c.result_field, test::get32(r, 12) + c.id_offset, 1, c.payload);
                             }),
                  c.result);
        EXPECT_EQ(slot, c.result == 0 ? 42u : 0xFEEDFACEu);
    }
}

TEST(Requests, PeerGoneGives1AfterTheFunctionIdLineAndTheProcessLives) {
    ::signal(SIGPIPE, SIG_DFL);  // the request itself must ignore it, or EPIPE kills the process here
    test::SocketPair pair;
    ASSERT_EQ(set_nonblocking(pair.app()), 1);
    pair.close_peer();
    LogCapture log;
    uint32_t slot = 7;
    EXPECT_EQ(vexod_power_on(pair.app(), &slot), 1);
    EXPECT_EQ(slot, 7u);
    const Lines lines = log.lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "<vexod_power_on> funcid = 6");
    EXPECT_EQ(lines[1].rfind("<writen> write("), 0u);
    EXPECT_NE(lines[1].find("Broken pipe"), std::string::npos);
}

TEST(Requests, SearchTooBigForAnyDaemonIsRefusedBeforeSending) {
    test::SocketPair pair;
    LogCapture log;
    const Bytes pattern(VEXOD_MAX_MSGSIZE - 36, 0);
    EXPECT_EQ(vexod_service_attribute_search_request(pair.app(), kAddr, 0, pattern.data(),
                                                     static_cast<uint32_t>(pattern.size()), pattern.data(), 1, nullptr),
              1);
    EXPECT_EQ(log.lines(), (Lines{"<vexod_service_attribute_search_request> funcid = 20",
                                  "<vexod_service_attribute_search_request> request of 52428800 bytes is too big"}));
    pollfd p{pair.peer(), POLLIN, 0};
    EXPECT_EQ(::poll(&p, 1, 0), 0);  // nothing was written
}

}  // namespace
}  // namespace vgps

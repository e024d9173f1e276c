// The seven requests: byte layouts on the wire, result codes and log lines,
// against a peer thread playing the daemon on a real socket.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "link/utility.h"
#include "link/vexod_rpc1.h"
#include "platform/log.h"
#include "support/sockets.h"
#include "support/temp_dir.h"

namespace vgps {
namespace {

using test::Bytes;
using test::frame;
using Lines = std::vector<std::string>;

constexpr bdaddr kAddr{{0x00, 0x11, 0x22, 0x33, 0x44, 0x55}};
const Bytes kPattern{0x35, 0x03, 0x19, 0x11, 0x01};
const Bytes kAttrList{0x35, 0x05, 0x0A, 0x00, 0x00, 0xFF, 0xFF};

// Reads one whole request from the peer end.
Bytes read_request(int fd) {
    Bytes header = test::read_exact(fd, 20);
    if (header.size() < 20) return header;
    Bytes body = test::read_exact(fd, test::get32(header, 4) - 20);
    header.insert(header.end(), body.begin(), body.end());
    return header;
}

// Plays the daemon for one request: records it, then answers with what
// `reply` makes of it.
class OneRequest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(set_nonblocking(pair_.app()), 1); }

    int run(std::function<int(int fd)> request, std::function<Bytes(const Bytes&)> reply) {
        test::PeerThread daemon([&] {
            request_ = read_request(pair_.peer());
            test::write_all(pair_.peer(), reply(request_));
        });
        return request(pair_.app());
    }

    static Bytes ok_with(uint32_t value, const Bytes& req) {
        Bytes payload;
        test::put32(payload, value);
        return frame(0, test::get32(req, 12), 1, payload);
    }

    test::SocketPair pair_;
    Bytes request_;
    LogCapture log_;
};

TEST_F(OneRequest, FixedRequestsAreHeadersOnlyWithTheirFunctionIds) {
    struct Case {
        const char* name;
        int (*fn)(int, uint32_t*);
        uint32_t funcid;
    } cases[] = {{"vexod_register_application", vexod_register_application, 2},
                 {"vexod_get_power_state", vexod_get_power_state, 5},
                 {"vexod_power_on", vexod_power_on, 6},
                 {"vexod_start_inquiry", vexod_start_inquiry, 15}};
    for (const Case& c : cases) {
        log_.clear();
        uint32_t value = 0;
        EXPECT_EQ(run([&](int fd) { return c.fn(fd, &value); },
                      [](const Bytes& req) { return ok_with(0xCAFE, req); }),
                  0);
        ASSERT_EQ(request_.size(), 20u) << c.name;
        EXPECT_EQ(test::get32(request_, 0), 0x12345678u);
        EXPECT_EQ(test::get32(request_, 4), 20u);
        EXPECT_EQ(test::get32(request_, 8), 0u);
        EXPECT_EQ(test::get32(request_, 16), c.funcid);
        EXPECT_EQ(value, 0xCAFEu);
        EXPECT_EQ(log_.lines(), Lines{std::string("<") + c.name + "> funcid = " + std::to_string(c.funcid)});
    }
}

TEST_F(OneRequest, NameRequestIs31BytesWithZeroParameters) {
    EXPECT_EQ(run([](int fd) { return vexod_request_name(fd, kAddr, 0, 0, nullptr); },
                  [](const Bytes& req) { return ok_with(0, req); }),
              0);
    ASSERT_EQ(request_.size(), 31u);
    EXPECT_EQ(test::get32(request_, 4), 31u);
    EXPECT_EQ(test::get32(request_, 16), 19u);
    EXPECT_EQ(Bytes(request_.begin() + 20, request_.begin() + 26), Bytes(kAddr.addr, kAddr.addr + 6));
    EXPECT_EQ(Bytes(request_.begin() + 26, request_.end()), Bytes(5, 0));
}

TEST_F(OneRequest, RfcommConnectEndsWithParameterAndChannel) {
    EXPECT_EQ(run([](int fd) { return vexod_rfcomm_connect(fd, kAddr, 1, 3, nullptr); },
                  [](const Bytes& req) { return ok_with(0, req); }),
              0);
    ASSERT_EQ(request_.size(), 28u);
    EXPECT_EQ(test::get32(request_, 16), 12u);
    EXPECT_EQ(Bytes(request_.begin() + 20, request_.begin() + 26), Bytes(kAddr.addr, kAddr.addr + 6));
    EXPECT_EQ(request_[26], 0x01);
    EXPECT_EQ(request_[27], 0x03);
}

TEST_F(OneRequest, ServiceSearchCarriesPatternAndListBehindTheFixedFields) {
    EXPECT_EQ(run(
                  [](int fd) {
                      return vexod_service_attribute_search_request(fd, kAddr, 0xFFFF, kPattern.data(), 5,
                                                                    kAttrList.data(), 7, nullptr);
                  },
                  [](const Bytes& req) { return ok_with(0, req); }),
              0);
    ASSERT_EQ(request_.size(), 48u);
    EXPECT_EQ(test::get32(request_, 4), 48u);
    EXPECT_EQ(test::get32(request_, 16), 20u);
    EXPECT_EQ(request_[26], 0xFF);
    EXPECT_EQ(request_[27], 0xFF);
    EXPECT_EQ(test::get32(request_, 28), 5u);
    EXPECT_EQ(test::get32(request_, 32), 7u);
    EXPECT_EQ(Bytes(request_.begin() + 36, request_.begin() + 41), kPattern);
    EXPECT_EQ(Bytes(request_.begin() + 41, request_.end()), kAttrList);
}

TEST_F(OneRequest, ServiceSearchWithEmptyPatternAndList) {
    EXPECT_EQ(run([](int fd) { return vexod_service_attribute_search_request(fd, kAddr, 0x1234, nullptr, 0, nullptr, 0, nullptr); },
                  [](const Bytes& req) { return ok_with(0, req); }),
              0);
    ASSERT_EQ(request_.size(), 36u);
    EXPECT_EQ(request_[26], 0x34);
    EXPECT_EQ(request_[27], 0x12);
    EXPECT_EQ(test::get32(request_, 28), 0u);
    EXPECT_EQ(test::get32(request_, 32), 0u);
}

TEST_F(OneRequest, ResultCodes) {
    struct Case {
        const char* what;
        std::function<Bytes(const Bytes&)> reply;
        int result;
        bool slot_written;
    } cases[] = {
        {"24-byte success", [](const Bytes& r) { return ok_with(42, r); }, 0, true},
        {"23-byte success", [](const Bytes& r) { return frame(0, test::get32(r, 12), 1, {1, 2, 3}); }, 3, false},
        {"20-byte refusal", [](const Bytes& r) { return frame(5, test::get32(r, 12), 1); }, 5, false},
        {"refusal with value", [](const Bytes& r) { return frame(0x03020004, test::get32(r, 12), 1, {9, 9, 9, 9}); },
         0x03020004, false},
        {"daemon code 1", [](const Bytes& r) { return frame(1, test::get32(r, 12), 1); }, 1, false},
        {"stale id", [](const Bytes& r) { return frame(0, test::get32(r, 12) + 1, 1, {1, 2, 3, 4}); }, 2, false},
        {"not a response", [](const Bytes& r) { return frame(0, test::get32(r, 12), 0, {1, 2, 3, 4}); }, 2, false},
    };
    for (const Case& c : cases) {
        uint32_t slot = 0xFEEDFACE;
        EXPECT_EQ(run([&](int fd) { return vexod_get_power_state(fd, &slot); }, c.reply), c.result) << c.what;
        EXPECT_EQ(slot, c.slot_written ? 42u : 0xFEEDFACEu) << c.what;
    }
}

TEST_F(OneRequest, SendFailureGives1AfterTheFunctionIdLine) {
    pair_.close_peer();
    uint32_t slot = 7;
    EXPECT_EQ(vexod_power_on(pair_.app(), &slot), 1);
    EXPECT_EQ(slot, 7u);
    Lines lines = log_.lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "<vexod_power_on> funcid = 6");
    EXPECT_NE(lines[1].find("<writen> write("), std::string::npos);
    EXPECT_NE(lines[1].find("Broken pipe"), std::string::npos);
}

TEST_F(OneRequest, DaemonClosingBeforeAnsweringGives2AndTheDisconnectReaction) {
    int reactions = 0;
    auto previous = vexod_set_peer_disconnect_handler([&](int) { ++reactions; });
    EXPECT_EQ(run([](int fd) { return vexod_start_inquiry(fd, nullptr); },
                  [&](const Bytes&) {
                      pair_.close_peer();
                      return Bytes{};
                  }),
              2);
    vexod_set_peer_disconnect_handler(std::move(previous));
    EXPECT_EQ(reactions, 1);
}

TEST_F(OneRequest, OversizedSearchIsRefusedBeforeAnythingIsSent) {
    Bytes big(VEXOD_MAX_MSGSIZE, 0);
    EXPECT_EQ(vexod_service_attribute_search_request(pair_.app(), kAddr, 0, big.data(), static_cast<uint32_t>(big.size()),
                                                     nullptr, 0, nullptr),
              1);
    EXPECT_EQ(log_.lines().front(), "<vexod_service_attribute_search_request> funcid = 20");
}

TEST_F(OneRequest, MessageIdsRiseByOne) {
    uint32_t ids[3];
    for (uint32_t& id : ids) {
        run([](int fd) { return vexod_register_application(fd, nullptr); },
            [](const Bytes& req) { return ok_with(0, req); });
        id = test::get32(request_, 12);
    }
    EXPECT_EQ(ids[1], ids[0] + 1);
    EXPECT_EQ(ids[2], ids[1] + 1);
}

// The first request of a process carries id 1. Other tests in this process
// may have sent requests already; then the check runs again in a fresh copy
// of this test binary.
TEST(MessageIds, FirstRequestOfAProcessCarriesOne) {
    if (msgids.load() != 0) {
        pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            const char* filter = "--gtest_filter=MessageIds.FirstRequestOfAProcessCarriesOne";
            ::execl("/proc/self/exe", "vexod_requests_test", filter, static_cast<char*>(nullptr));
            ::_exit(127);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        return;
    }
    test::SocketPair pair;
    uint32_t first_id = 0;
    test::PeerThread daemon([&] {
        Bytes req = read_request(pair.peer());
        first_id = test::get32(req, 12);
        test::write_all(pair.peer(), frame(0, first_id, 1, {0, 0, 0, 0}));
    });
    EXPECT_EQ(vexod_register_application(pair.app(), nullptr), 0);
    daemon.join();
    EXPECT_EQ(first_id, 1u);
}

// The real transport: a listening Unix socket in a temporary folder and a
// daemon thread answering a whole start-up conversation.
TEST(UnixSocket, StartUpConversation) {
    test::TempDir dir;
    const std::string path = dir.file("vexod");
    int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un sa{};
    sa.sun_family = AF_UNIX;
    std::snprintf(sa.sun_path, sizeof sa.sun_path, "%s", path.c_str());
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
    ASSERT_EQ(::listen(listener, 1), 0);

    std::vector<uint32_t> funcids;
    test::PeerThread daemon([&] {
        int client = ::accept(listener, nullptr, nullptr);
        for (;;) {
            Bytes req = read_request(client);
            if (req.size() < 20) break;
            funcids.push_back(test::get32(req, 16));
            Bytes value;
            test::put32(value, funcids.back() == 5 ? 0 : 1);  // radio off
            test::write_all(client, frame(0, test::get32(req, 12), 1, value));
        }
        ::close(client);
    });

    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
    ASSERT_EQ(set_nonblocking(fd), 1);
    uint32_t power = 99;
    EXPECT_EQ(vexod_register_application(fd, nullptr), 0);
    EXPECT_EQ(vexod_get_power_state(fd, &power), 0);
    EXPECT_EQ(power, 0u);
    EXPECT_EQ(vexod_power_on(fd, nullptr), 0);
    ::close(fd);
    daemon.join();
    ::close(listener);
    EXPECT_EQ(funcids, (std::vector<uint32_t>{2, 5, 6}));
}

}  // namespace
}  // namespace vgps

// The GPS data link of the real vexod process, driven by a raw protocol
// client: service search answers, RFCOMM connects, the NMEA streams on the
// data sockets and their faults.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "sdp_decode.h"
#include "support/process.h"
#include "support/sockets.h"
#include "support/temp_dir.h"

namespace vexod {
namespace {

using namespace std::chrono_literals;
using vgps::test::Bytes;
using vgps::test::get32;
using Clock = std::chrono::steady_clock;

// Connects to a local socket; -1 with errno set when it cannot.
int connect_local(const std::string& path) {
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    if (path.size() >= sizeof a.sun_path) {
        errno = ENAMETOOLONG;
        return -1;
    }
    std::memcpy(a.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        const int saved = errno;
        ::close(fd);
        errno = saved;
        return -1;
    }
    return fd;
}

// Reads once, waiting at most until `deadline`: the bytes read, or empty at
// the end of the stream or the deadline.
std::string read_some(int fd, Clock::time_point deadline, bool* eof = nullptr) {
    pollfd p{fd, POLLIN, 0};
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (::poll(&p, 1, static_cast<int>(std::max<int64_t>(0, left.count()))) <= 0) return {};
    char buf[8192];
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n <= 0 && eof) *eof = true;
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

// Everything up to the end of the stream, read by read.
std::vector<std::string> read_to_end(int fd, std::chrono::milliseconds timeout = 10s) {
    std::vector<std::string> chunks;
    const auto deadline = Clock::now() + timeout;
    bool eof = false;
    while (!eof && Clock::now() < deadline) {
        std::string chunk = read_some(fd, deadline, &eof);
        if (!chunk.empty()) chunks.push_back(std::move(chunk));
    }
    EXPECT_TRUE(eof) << "the data socket did not close";
    return chunks;
}

std::string joined(const std::vector<std::string>& chunks) {
    std::string all;
    for (const auto& c : chunks) all += c;
    return all;
}

// The sentences of a stream; each must end in CR LF and carry a correct
// checksum.
std::vector<std::string> checked_sentences(const std::string& stream) {
    std::vector<std::string> out;
    for (size_t pos = 0; pos < stream.size();) {
        const size_t end = stream.find("\r\n", pos);
        if (end == std::string::npos) {
            ADD_FAILURE() << "unterminated sentence at " << pos;
            break;
        }
        const std::string s = stream.substr(pos, end - pos);
        pos = end + 2;
        const size_t star = s.rfind('*');
        EXPECT_TRUE(s[0] == '$' && star != std::string::npos && star + 3 == s.size()) << s;
        unsigned sum = 0;
        for (size_t i = 1; i < star; ++i) sum ^= static_cast<unsigned char>(s[i]);
        EXPECT_EQ(std::stoul(s.substr(star + 1), nullptr, 16), sum) << s;
        out.push_back(s);
    }
    return out;
}

bool exists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

std::string folder_of(const std::string& path) { return path.substr(0, path.rfind('/')); }

const Bytes kAddr{0x00, 0x1c, 0x88, 0x30, 0x5e, 0x01};  // "00:1c:88:30:5e:01"

Bytes address(uint8_t last) {
    Bytes a = kAddr;
    a[5] = last;
    return a;
}

// The daemon side as the application sees it: requests, and the
// notifications that arrive in between.
class RawClient {
public:
    explicit RawClient(const std::string& path) : fd_(connect_local(path)) { EXPECT_GE(fd_, 0) << path; }
    ~RawClient() { close(); }
    void close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

    // The result code of the response.
    uint32_t request(uint32_t funcid, const Bytes& payload = {}) {
        const uint32_t id = ++msgid_;
        EXPECT_TRUE(vgps::test::write_all(fd_, vgps::test::frame(funcid, id, 0, payload)));
        for (;;) {
            Bytes f = read_frame();
            if (f.empty()) return 0xFFFFFFFF;
            if (get32(f, 8) != 0 && get32(f, 12) == id) return get32(f, 16);
            queued_.push_back(std::move(f));
        }
    }

    uint32_t search(const Bytes& addr) {
        Bytes p = addr;
        p.insert(p.end(), {0xFF, 0xFF});
        vgps::test::put32(p, 5);
        vgps::test::put32(p, 7);
        p.insert(p.end(), {0x35, 0x03, 0x19, 0x11, 0x01, 0x35, 0x05, 0x0A, 0x00, 0x00, 0xFF, 0xFF});
        return request(20, p);
    }

    uint32_t connect(const Bytes& addr, uint8_t channel) {
        Bytes p = addr;
        p.insert(p.end(), {1, channel});
        return request(12, p);
    }

    // The next notification with this function id; empty when none comes.
    Bytes notification(uint32_t funcid) {
        for (;;) {
            Bytes f;
            if (!queued_.empty()) {
                f = std::move(queued_.front());
                queued_.pop_front();
            } else {
                f = read_frame();
                if (f.empty()) return f;
            }
            if (get32(f, 16) == funcid) return f;
        }
    }

private:
    Bytes read_frame() {
        const auto deadline = Clock::now() + 10s;
        Bytes f;
        size_t want = 20;
        while (f.size() < want) {
            pollfd p{fd_, POLLIN, 0};
            if (Clock::now() > deadline || ::poll(&p, 1, 100) < 0) return {};
            if (p.revents == 0) continue;
            uint8_t buf[4096];
            const ssize_t n = ::read(fd_, buf, std::min(sizeof buf, want - f.size()));
            if (n <= 0) return {};
            f.insert(f.end(), buf, buf + n);
            if (f.size() == 20) want = get32(f, 4);
        }
        return f;
    }

    int fd_;
    uint32_t msgid_ = 0;
    std::deque<Bytes> queued_;
};

struct Connected {
    uint8_t channel;
    uint32_t result;
    std::string path;
};

Connected decode_30(const Bytes& n) {
    EXPECT_GE(n.size(), 35u);
    if (n.size() < 35) return {0, 0xFFFFFFFF, ""};
    EXPECT_TRUE(std::equal(kAddr.begin(), kAddr.begin() + 5, n.begin() + 20));
    const uint32_t length = get32(n, 27);
    EXPECT_EQ(n.size(), 35u + length);
    return {n[26], get32(n, 31), std::string(n.begin() + 35, n.end())};
}

// The 32-bit value of notification 31 (why the link ended).
uint32_t end_reason(RawClient& client, uint8_t channel) {
    Bytes n = client.notification(31);
    if (n.size() != 31) {
        ADD_FAILURE() << "no notification 31";
        return 0xFFFFFFFF;
    }
    EXPECT_EQ(n[26], channel);
    return get32(n, 27);
}

TEST(VexodLink, SearchAnswersCarryTheScenarioRecords) {
    vgps::test::TempDir dir;
    vgps::test::VexodProcess vexod(VEXOD_BINARY, dir.path(), R"({"devices": [
        {"address": "00:1c:88:30:5e:01", "search_delay_ms": 0, "services": [
            {"name": "SPP Slave", "rfcomm_channel": 1}, {"name": "GPS Receiver", "rfcomm_channel": 2},
            {"name": "Control", "service_class": "0x1102"}]},
        {"address": "00:1c:88:30:5e:02", "switched_off": true, "services": [{"name": "SPP", "rfcomm_channel": 1}]},
        {"address": "00:1c:88:30:5e:03"}]})");
    RawClient client(vexod.socket_path());

    ASSERT_EQ(client.search(kAddr), 0u);
    Bytes n = client.notification(25);
    ASSERT_GE(n.size(), 38u);
    EXPECT_EQ(Bytes(n.begin() + 20, n.begin() + 26), kAddr);
    EXPECT_EQ(get32(n, 26), 5u);
    EXPECT_EQ(get32(n, 34), 0u);
    EXPECT_EQ(Bytes(n.begin() + 38, n.begin() + 43), (Bytes{0x35, 0x03, 0x19, 0x11, 0x01})) << "pattern echoed";
    EXPECT_EQ(n.size(), 43u + get32(n, 30));
    std::vector<DecodedRecord> records = decode_records(Bytes(n.begin() + 43, n.end()));
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].name, "SPP Slave");
    EXPECT_EQ(records[0].channel, 1);
    EXPECT_EQ(records[1].name, "GPS Receiver");
    EXPECT_EQ(records[1].channel, 2);
    EXPECT_EQ(records[1].service_class, 0x1101);
    EXPECT_EQ(records[2].channel, 0) << "no RFCOMM";
    EXPECT_EQ(records[2].service_class, 0x1102);

    // Switched off, and not in range at all: the search is not performed.
    for (uint8_t last : {0x02, 0x77}) {
        ASSERT_EQ(client.search(address(last)), 0u);
        n = client.notification(25);
        ASSERT_EQ(n.size(), 43u);
        EXPECT_EQ(n[25], last);
        EXPECT_EQ(get32(n, 34), 0x03020004u);
        EXPECT_EQ(get32(n, 30), 0u);
    }
    // In range without a serial port: an empty sequence.
    ASSERT_EQ(client.search(address(0x03)), 0u);
    n = client.notification(25);
    EXPECT_EQ(get32(n, 34), 0u);
    EXPECT_EQ(Bytes(n.begin() + 43, n.end()), (Bytes{0x35, 0x00}));
}

TEST(VexodLink, ReplaysARecordedCaptureInOrderThenEndsTheLink) {
    vgps::test::TempDir dir;
    const std::string capture = vgps::test::read_file(std::string(VGPS_TEST_DATA_DIR) + "/nmea/haicom-305N.log");
    vgps::test::write_file(dir.file("track.log"), capture);
    vgps::test::write_file(dir.file("s.json"), R"({"link": {"speed": 1}, "devices": [{"address": "00:1c:88:30:5e:01",
        "connect_delay_ms": 0, "services": [{"name": "GPS", "rfcomm_channel": 2}], "nmea_file": "track.log"}]})");
    // --speed 0 (as fast as the socket takes it) overrides the scenario.
    vgps::test::ChildProcess vexod({VEXOD_BINARY, "--socket", dir.file("v.sock"), "--scenario", dir.file("s.json"),
                                    "--speed", "0"},
                                   dir.file("out"), dir.file("err"));
    ASSERT_TRUE(vgps::test::wait_for_text(dir.file("err"), "listening on"));
    RawClient client(dir.file("v.sock"));

    ASSERT_EQ(client.connect(kAddr, 2), 0u);
    const Connected c = decode_30(client.notification(30));
    ASSERT_EQ(c.result, 0u);
    EXPECT_EQ(c.channel, 2);
    struct stat st;
    ASSERT_EQ(::stat(folder_of(c.path).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u) << "a private folder";
    ASSERT_EQ(::stat(c.path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));

    const int data = connect_local(c.path);
    ASSERT_GE(data, 0) << std::strerror(errno);
    const std::vector<std::string> sentences = checked_sentences(joined(read_to_end(data)));
    ::close(data);
    // The capture's data lines, in order, '#' lines dropped.
    std::vector<std::string> expected;
    for (size_t pos = 0; pos < capture.size();) {
        size_t end = capture.find('\n', pos);
        std::string line = capture.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty() && line[0] != '#') expected.push_back(line);
    }
    EXPECT_EQ(sentences, expected);
    EXPECT_EQ(end_reason(client, 2), 0u) << "end of the recorded stream";
    EXPECT_FALSE(exists(c.path));
    EXPECT_FALSE(exists(folder_of(c.path)));
}

TEST(VexodLink, GeneratedStreamWithSplitBurstAndDropFaults) {
    vgps::test::TempDir dir;
    // Five epochs a second; the second one's first sentence comes in two
    // writes 400 ms apart; from the fourth on, whole epochs over 1023 bytes
    // in one write; dropped after six.
    vgps::test::VexodProcess vexod(VEXOD_BINARY, dir.path(), R"({"link": {"speed": 5}, "devices": [
        {"address": "00:1c:88:30:5e:01", "services": [{"rfcomm_channel": 1}],
         "generator": {"lat": -33.5, "lon": 151.25, "start_time": 1315989005},
         "link_faults": {"split_at_epoch": 2, "split_pause_ms": 400, "burst_at_epoch": 4, "drop_after_epochs": 6}}]})");
    RawClient client(vexod.socket_path());
    ASSERT_EQ(client.connect(kAddr, 1), 0u);
    const Connected c = decode_30(client.notification(30));
    ASSERT_EQ(c.result, 0u);
    const int data = connect_local(c.path);
    ASSERT_GE(data, 0);
    const std::vector<std::string> chunks = read_to_end(data);
    ::close(data);
    const std::string stream = joined(chunks);

    const std::vector<std::string> sentences = checked_sentences(stream);
    ASSERT_EQ(sentences.size(), 6u * 7);  // GGA, GSA, 3 GSV, RMC, VTG
    EXPECT_EQ(sentences[0].rfind("$GPGGA,083005.00,3330.0000,S,15115.0000,E,1,", 0), 0u) << sentences[0];
    EXPECT_EQ(sentences[35].rfind("$GPGGA,083010.00,", 0), 0u) << sentences[35];
    std::vector<size_t> epoch_at;  // where each epoch starts
    for (size_t at = stream.find("$GPGGA"); at != std::string::npos; at = stream.find("$GPGGA", at + 1))
        epoch_at.push_back(at);
    ASSERT_EQ(epoch_at.size(), 6u);

    // Where each read began.
    std::vector<size_t> starts;
    size_t offset = 0;
    for (const auto& chunk : chunks) {
        starts.push_back(offset);
        offset += chunk.size();
    }
    auto read_began_at = [&](size_t at) { return std::find(starts.begin(), starts.end(), at) != starts.end(); };
    const size_t split = epoch_at[1] + (sentences[7].size() + 2) / 2;
    EXPECT_TRUE(read_began_at(split)) << "the first half of epoch 2's GGA came alone";
    const auto burst = std::find(starts.begin(), starts.end(), epoch_at[3]);
    ASSERT_NE(burst, starts.end());
    const size_t burst_end = epoch_at[3] + chunks[static_cast<size_t>(burst - starts.begin())].size();
    EXPECT_GT(burst_end - epoch_at[3], 1023u) << "one write of whole epochs over 1023 bytes";
    EXPECT_TRUE(burst_end == stream.size() || read_began_at(burst_end));
    const size_t last_in_burst = *std::prev(std::lower_bound(epoch_at.begin(), epoch_at.end(), burst_end));
    EXPECT_LE(last_in_burst - epoch_at[3], 1023u) << "no more epochs than needed to pass 1023 bytes";

    EXPECT_EQ(end_reason(client, 1), 1u) << "dropped";
    EXPECT_FALSE(exists(folder_of(c.path)));
}

TEST(VexodLink, FailedConnectsAndPathsNobodyCanUse) {
    vgps::test::TempDir dir;
    vgps::test::VexodProcess vexod(VEXOD_BINARY, dir.path(), R"({"link": {"speed": 1, "accept_timeout_ms": 300},
      "devices": [
        {"address": "00:1c:88:30:5e:01", "connect_delay_ms": 0, "services": [{"rfcomm_channel": 1}]},
        {"address": "00:1c:88:30:5e:02", "services": [{"rfcomm_channel": 1}], "link_faults": {"connect_result": 4}},
        {"address": "00:1c:88:30:5e:03", "services": [{"rfcomm_channel": 1}], "switched_off": true},
        {"address": "00:1c:88:30:5e:04", "services": [{"rfcomm_channel": 1}], "link_faults": {"socket_path": "missing"}},
        {"address": "00:1c:88:30:5e:05", "services": [{"rfcomm_channel": 1}], "link_faults": {"socket_path": "refused"}},
        {"address": "00:1c:88:30:5e:06", "services": [{"rfcomm_channel": 1}], "link_faults": {"socket_path": "long"}}]})");
    RawClient client(vexod.socket_path());

    // A link that is up, then refused a second time while the application
    // never connects to it.
    ASSERT_EQ(client.connect(kAddr, 1), 0u);
    const Connected up = decode_30(client.notification(30));
    ASSERT_EQ(up.result, 0u);
    ASSERT_EQ(client.connect(kAddr, 1), 0u);
    EXPECT_EQ(decode_30(client.notification(30)).result, 16u) << "busy";
    EXPECT_EQ(end_reason(client, 1), 2u) << "the application did not connect";
    EXPECT_FALSE(exists(folder_of(up.path)));

    const struct {
        uint8_t last, channel;
        uint32_t result;
    } refused[] = {{0x01, 3, 111}, {0x02, 1, 4}, {0x03, 1, 112}, {0x7e, 1, 112}};
    for (const auto& r : refused) {
        ASSERT_EQ(client.connect(address(r.last), r.channel), 0u);
        const Connected c = decode_30(client.notification(30));
        EXPECT_EQ(c.result, r.result) << int(r.last);
        EXPECT_EQ(c.path, "");
    }

    const struct {
        uint8_t last;
        int error;
    } unusable[] = {{0x04, ENOENT}, {0x05, ECONNREFUSED}, {0x06, ENAMETOOLONG}};
    for (const auto& u : unusable) {
        ASSERT_EQ(client.connect(address(u.last), 1), 0u);
        const Connected c = decode_30(client.notification(30));
        ASSERT_EQ(c.result, 0u);
        EXPECT_EQ(connect_local(c.path), -1);
        EXPECT_EQ(errno, u.error) << c.path;
        if (u.error == ENAMETOOLONG) {
            EXPECT_GT(c.path.size(), 103u);
        }
        EXPECT_EQ(end_reason(client, 1), 2u);
        EXPECT_FALSE(exists(folder_of(c.path)));
    }
}

TEST(VexodLink, SurvivesTheApplicationClosingItsEndAndTheClientLeaving) {
    vgps::test::TempDir dir;
    vgps::test::VexodProcess vexod(VEXOD_BINARY, dir.path(), R"({"link": {"speed": 20}, "devices": [
        {"address": "00:1c:88:30:5e:01", "services": [{"rfcomm_channel": 1}]}]})");
    std::string folder;
    {
        RawClient client(vexod.socket_path());
        ASSERT_EQ(client.connect(kAddr, 1), 0u);
        Connected c = decode_30(client.notification(30));
        int data = connect_local(c.path);
        ASSERT_GE(data, 0);
        EXPECT_FALSE(read_some(data, Clock::now() + 5s).empty());
        ::close(data);
        EXPECT_EQ(end_reason(client, 1), 3u) << "the application closed its end";
        EXPECT_FALSE(exists(folder_of(c.path)));
        EXPECT_EQ(client.request(5), 0u) << "still answering";

        // The same device again; this time the daemon's client leaves while
        // the link streams.
        ASSERT_EQ(client.connect(kAddr, 1), 0u);
        c = decode_30(client.notification(30));
        data = connect_local(c.path);
        ASSERT_GE(data, 0);
        EXPECT_FALSE(read_some(data, Clock::now() + 5s).empty());
        folder = folder_of(c.path);
        client.close();
        read_to_end(data);
        ::close(data);
    }
    EXPECT_FALSE(exists(folder));
    RawClient next(vexod.socket_path());
    EXPECT_EQ(next.request(5), 0u);
    EXPECT_TRUE(vexod.process().running());
}

}  // namespace
}  // namespace vexod

// The vexod binary, driven by a raw protocol client as the application
// would: its command line, requests, hostile clients and signals; then the
// GPS data link: service search answers decoded with libbluetooth, RFCOMM
// connects, the NMEA streams on the data sockets and their faults.
#include <bluetooth/bluetooth.h>
#include <bluetooth/sdp.h>
#include <bluetooth/sdp_lib.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "link/vexod_wire.h"
#include "platform/fd.h"
#include "support/process.h"
#include "support/sockets.h"
#include "support/temp_dir.h"

namespace vexod {
namespace {

using namespace std::chrono_literals;
using vgps::test::Bytes;
using vgps::test::ChildProcess;
using vgps::test::get32;
using vgps::test::read_file;
using vgps::test::TempDir;
using vgps::test::VexodProcess;

// True when the other side closed the stream.
bool hung_up(int fd) {
    char c;
    return ::read(fd, &c, 1) == 0;
}

bool exists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

// Requests as the application sends them, and the notifications that arrive
// in between.
class RawClient {
public:
    explicit RawClient(const std::string& path) : fd_(vgps::test::connect_unix(path)) { EXPECT_GE(fd_, 0) << path; }
    ~RawClient() { close(); }
    void close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    int fd() const { return fd_; }

    // The response frame with this request's message id; empty when the
    // daemon hung up or stayed silent. The payload as raw bytes, or a
    // request message of the wire format.
    Bytes ask(uint32_t funcid, const Bytes& payload = {}) {
        return exchange(vgps::test::frame(funcid, ++msgid_, 0, payload));
    }
    template <class M>
        requires requires { M::kFuncId; }
    Bytes ask(const M& request) {
        return exchange(vgps::vexod_frame(request, M::kFuncId, ++msgid_));
    }
    // The result code of the response.
    uint32_t request(uint32_t funcid, const Bytes& payload = {}) { return result_of(ask(funcid, payload)); }
    template <class M>
        requires requires { M::kFuncId; }
    uint32_t request(const M& request) {
        return result_of(ask(request));
    }

    // The next notification with this function id; empty when none comes.
    Bytes notification(uint32_t funcid) {
        for (;;) {
            Bytes f;
            if (!queued_.empty()) {
                f = std::move(queued_.front());
                queued_.pop_front();
            } else if ((f = read_frame()).empty()) {
                return f;
            }
            if (get32(f, 16) == funcid) return f;
        }
    }

private:
    static uint32_t result_of(const Bytes& response) {
        return response.size() >= 20 ? get32(response, 16) : 0xFFFFFFFF;
    }
    Bytes exchange(const Bytes& request) {
        EXPECT_TRUE(vgps::test::write_all(fd_, request));
        for (Bytes f; !(f = read_frame()).empty();) {
            if (get32(f, 8) != 0 && get32(f, 12) == msgid_) return f;
            queued_.push_back(std::move(f));
        }
        return {};
    }
    // Fills `f` from `from` on; false at the end of the stream or on silence.
    bool fill(Bytes& f, size_t from) {
        for (ssize_t n; from < f.size(); from += static_cast<size_t>(n)) {
            if ((n = ::read(fd_, f.data() + from, f.size() - from)) <= 0) return false;
        }
        return true;
    }
    Bytes read_frame() {
        Bytes f(20);
        if (!fill(f, 0)) return {};
        f.resize(std::max<size_t>(20, get32(f, 4)));
        return fill(f, 20) ? f : Bytes{};
    }

    int fd_;
    uint32_t msgid_ = 0;
    std::deque<Bytes> queued_;
};

struct DecodedRecord {
    std::string name;
    int channel = -1;  // -1: no protocol descriptor list
    uint16_t service_class = 0;
};

// The records of a service search answer, decoded with libbluetooth the way
// the application walks them; a failure when the bytes are not one sequence
// of whole records.
std::vector<DecodedRecord> decode_records(const std::vector<uint8_t>& bytes) {
    std::vector<DecodedRecord> out;
    uint8_t dtd = 0;
    int size = 0;
    const int scanned = sdp_extract_seqtype(bytes.data(), static_cast<int>(bytes.size()), &dtd, &size);
    EXPECT_GT(scanned, 0);
    if (scanned <= 0) return out;
    EXPECT_EQ(static_cast<size_t>(scanned + size), bytes.size());
    const uint8_t* p = bytes.data() + scanned;
    int left = size;
    while (left > 0) {
        int used = 0;
        sdp_record_t* rec = sdp_extract_pdu(p, left, &used);
        if (!rec || used == 0) {
            ADD_FAILURE() << "undecodable record";
            if (rec) sdp_record_free(rec);
            break;
        }
        DecodedRecord d;
        if (sdp_data_t* name = sdp_data_get(rec, SDP_ATTR_SVCNAME_PRIMARY))
            d.name.assign(name->val.str, strnlen(name->val.str, name->unitSize));
        sdp_list_t* protos = nullptr;
        if (sdp_get_access_protos(rec, &protos) == 0) {
            d.channel = sdp_get_proto_port(protos, RFCOMM_UUID);
            sdp_list_foreach(protos, reinterpret_cast<sdp_list_func_t>(sdp_list_free), nullptr);
            sdp_list_free(protos, nullptr);
        }
        sdp_list_t* classes = nullptr;
        if (sdp_get_service_classes(rec, &classes) == 0 && classes) {
            d.service_class = static_cast<uuid_t*>(classes->data)->value.uuid16;
            sdp_list_free(classes, free);
        }
        out.push_back(d);
        sdp_record_free(rec);
        p += used;
        left -= used;
    }
    return out;
}

bool exited_with(int status, int code) { return WIFEXITED(status) && WEXITSTATUS(status) == code; }

// Everything up to the end of the stream; closes `fd`.
std::string read_to_end(int fd) {
    std::string all;
    char buf[8192];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) > 0) all.append(buf, static_cast<size_t>(n));
    EXPECT_EQ(n, 0) << "the data socket did not close";
    ::close(fd);
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

std::string folder_of(const std::string& path) { return path.substr(0, path.rfind('/')); }

// "00:1c:88:30:5e:XX"
vgps::bdaddr address(uint8_t last = 0x01) { return {{0x00, 0x1c, 0x88, 0x30, 0x5e, last}}; }

// Request 20 for the Serial Port service, as the application sends it.
uint32_t search(RawClient& client, const vgps::bdaddr& addr) {
    static const uint8_t pattern[] = {0x35, 0x03, 0x19, 0x11, 0x01};
    static const uint8_t attributes[] = {0x35, 0x05, 0x0A, 0x00, 0x00, 0xFF, 0xFF};
    return client.request(vgps::vexod_service_search_msg{addr, 0xFFFF, {pattern, 5}, {attributes, 7}});
}

// The next notification of type M, decoded; a failure when none comes or
// its bytes are not exactly the message's fields.
template <class M> bool next(RawClient& client, Bytes* frame, M* out, uint32_t funcid = M::kFuncId) {
    *frame = client.notification(funcid);
    const bool ok = vgps::vexod_decode(frame->data(), static_cast<uint32_t>(frame->size()), out) &&
                    vgps::vexod_message_size(*out) == frame->size();
    EXPECT_TRUE(ok) << "no well-formed notification " << funcid;
    return ok;
}

struct Connected {
    uint8_t channel;
    uint32_t result;
    std::string path;
};

// Request 12 and its notification 30.
Connected connect(RawClient& client, uint8_t last, uint8_t channel = 1) {
    EXPECT_EQ(client.request(vgps::vexod_rfcomm_connect_msg{address(last), 1, channel}), 0u);
    Bytes frame;
    vgps::vexod_rfcomm_connected_msg n;
    if (!next(client, &frame, &n)) return {0, 0xFFFFFFFF, ""};
    EXPECT_EQ(n.remote, address(last));
    return {n.channel, n.result, std::string(n.path.text())};
}

// The 32-bit value of notification 31 (why the link ended).
uint32_t end_reason(RawClient& client, uint8_t channel = 1) {
    Bytes frame;
    vgps::vexod_rfcomm_disconnected_msg n;
    if (!next(client, &frame, &n)) return 0xFFFFFFFF;
    EXPECT_EQ(n.channel, channel);
    return n.value32;
}

TEST(VexodProcess, HelpAndBadScenario) {
    TempDir dir;
    ChildProcess help({VEXOD_BINARY, "--help"}, dir.file("out"), dir.file("err"));
    EXPECT_TRUE(exited_with(help.wait(5000ms), 0));
    EXPECT_NE(read_file(dir.file("out")).find("--socket PATH"), std::string::npos);

    vgps::test::write_file(dir.file("bad.json"), "{\n\"devices\": [\n{\"address\": 5}]}");
    ChildProcess bad({VEXOD_BINARY, "--socket", dir.file("s"), "--scenario", dir.file("bad.json")}, dir.file("out2"),
                     dir.file("err2"));
    EXPECT_TRUE(exited_with(bad.wait(5000ms), 2));
    EXPECT_NE(read_file(dir.file("err2")).find("devices[0].address: must be a Bluetooth address"), std::string::npos);
    EXPECT_FALSE(exists(dir.file("s")));
}

// Scenarios the daemon cannot use end its start with status 2 and the
// reason, never with an abort or a wait: a number too large for a double, a
// FIFO nobody writes to, a device that never ends, a folder.
TEST(VexodProcess, UnusableScenarioFilesEndTheStartWithTwo) {
    TempDir dir;
    vgps::test::write_file(dir.file("overflow.json"), R"({"link":{"speed":1e400}})");
    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
    vgps::test::write_file(dir.file("track.json"),
                           R"({"devices": [{"address": "00:11:22:33:44:55", "nmea_file": "/dev/zero"}]})");
    const std::pair<std::string, std::string> cases[] = {
        {dir.file("overflow.json"), "line 1, column 22: number overflow parsing '1e400'"},
        {dir.file("fifo"), "is not a regular file (a FIFO)"},
        {"/dev/zero", "is not a regular file (a character device)"},
        {dir.path(), "is a folder, not a file"},
        {dir.file("track.json"), "devices[0].nmea_file: cannot read /dev/zero: is not a regular file"},
    };
    for (const auto& [scenario, reason] : cases) {
        SCOPED_TRACE(scenario);
        ChildProcess vexod({VEXOD_BINARY, "--socket", dir.file("s"), "--scenario", scenario}, dir.file("out"),
                           dir.file("err"));
        EXPECT_TRUE(exited_with(vexod.wait(5000ms), 2));
        EXPECT_NE(read_file(dir.file("err")).find("vexod: bad scenario file " + scenario + ": " + reason),
                  std::string::npos)
            << read_file(dir.file("err"));
        EXPECT_FALSE(exists(dir.file("s")));
    }
}

TEST(VexodProcess, AnswersRequestsAndRefusesWhatItDoesNotKnow) {
    TempDir dir;
    VexodProcess vexod(VEXOD_BINARY, dir.path(), R"({"radio": {"powered": false}})");
    RawClient client(vexod.socket_path());
    // The whole response: size, response flag, result 0, radio off.
    const Bytes r = client.ask(5);
    ASSERT_EQ(r.size(), 24u);
    EXPECT_EQ(get32(r, 4), 24u);
    EXPECT_NE(get32(r, 8), 0u);
    EXPECT_EQ(get32(r, 16), 0u);
    EXPECT_EQ(get32(r, 20), 0u);
    EXPECT_EQ(client.request(15), 100u) << "no inquiry while the radio is off";
    EXPECT_EQ(client.request(6), 0u);
    EXPECT_EQ(get32(client.ask(5), 20), 1u);
    EXPECT_EQ(client.request(77), 101u);
    EXPECT_EQ(client.request(19, {1, 2, 3}), 102u) << "name request too short";
}

TEST(VexodProcess, SurvivesGarbageAndServesTheNextClient) {
    TempDir dir;
    VexodProcess vexod(VEXOD_BINARY, dir.path(), R"({})");
    const Bytes whole = vgps::test::frame(2, 1, 0);
    const Bytes inputs[] = {Bytes(100, 0xAB), vgps::test::frame(2, 1, 0, {}, 0x12345678, 0x7FFFFFFF),
                            vgps::test::frame(2, 1, 0, {}, 0x12345678, 3)};
    for (const Bytes& input : inputs) {
        RawClient client(vexod.socket_path());
        vgps::test::write_all(client.fd(), input);
        EXPECT_TRUE(hung_up(client.fd())) << "the daemon hangs up on input it cannot frame";
    }
    {
        RawClient leaves_mid_request(vexod.socket_path());
        vgps::test::write_all(leaves_mid_request.fd(), Bytes(whole.begin(), whole.begin() + 10));
    }
    RawClient client(vexod.socket_path());
    EXPECT_EQ(client.request(2), 0u);
    EXPECT_TRUE(vexod.process().running());
}

TEST(VexodProcess, DropsAClientWhoseRequestStallsAndServesTheNext) {
    TempDir dir;
    VexodProcess vexod(VEXOD_BINARY, dir.path(), "{}");
    // Half a header, then nothing: the one-client daemon must not be held.
    RawClient stalled(vexod.socket_path());
    const Bytes request = vgps::test::frame(5, 1, 0);
    ASSERT_TRUE(vgps::test::write_all(stalled.fd(), Bytes(request.begin(), request.begin() + 10)));
    RawClient next(vexod.socket_path());  // waits in the listen queue meanwhile
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(next.request(5), 0u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 6s);
    EXPECT_TRUE(hung_up(stalled.fd()));
    EXPECT_NE(vexod.log().find("client 1 disconnected: its request did not complete within 3 s (10 bytes came)"),
              std::string::npos)
        << vexod.log();
}

TEST(VexodProcess, AClientThatClosesIsLoggedAsANormalDisconnect) {
    TempDir dir;
    VexodProcess vexod(VEXOD_BINARY, dir.path(), R"({"link": {"speed": 0}, "devices": [
        {"address": "00:1c:88:30:5e:01", "services": [{"rfcomm_channel": 1}]}]})");
    {
        // It closes with the answer to its request still unread.
        RawClient client(vexod.socket_path());
        ASSERT_TRUE(vgps::test::write_all(client.fd(), vgps::test::frame(2, 1, 0)));
        pollfd p{client.fd(), POLLIN, 0};
        ASSERT_EQ(::poll(&p, 1, 5000), 1);
    }
    {
        // It closes its data socket and then its connection while the link
        // streams: notification 31 meets a client that has gone.
        RawClient client(vexod.socket_path());
        const Connected c = connect(client, 0x01);
        const int data = vgps::test::connect_unix(c.path);
        ASSERT_GE(data, 0);
        char byte;
        EXPECT_EQ(::read(data, &byte, 1), 1) << "streaming";
        ::close(data);
    }
    RawClient third(vexod.socket_path());
    EXPECT_EQ(third.request(5), 0u);
    third.close();
    ASSERT_TRUE(vgps::test::wait_for_text(vexod.process().stderr_path(), "client 3 disconnected"));
    for (const char* client : {"1", "2", "3"}) {
        EXPECT_NE(vexod.log().find(std::string("client ") + client + " disconnected: client closed the connection\n"),
                  std::string::npos)
            << vexod.log();
    }
}

TEST(VexodProcess, StopsCleanlyOnSignalsRemovingItsSocket) {
    for (int sig : {SIGINT, SIGTERM}) {
        TempDir dir;
        VexodProcess vexod(VEXOD_BINARY, dir.path(), R"({})");
        RawClient client(vexod.socket_path());
        vexod.process().signal(sig);
        EXPECT_TRUE(exited_with(vexod.process().wait(5000ms), 0)) << sig;
        EXPECT_FALSE(exists(vexod.socket_path()));
        EXPECT_TRUE(hung_up(client.fd())) << "its client sees the end of the stream";
    }
}

TEST(VexodProcess, ReplacesAStaleSocketButNotALiveOne) {
    TempDir dir;
    {  // A socket file left behind by a daemon that is gone.
        const int fd = vgps::listen_local(dir.file("vexod.sock"), vgps::kBindOnly);
        ASSERT_GE(fd, 0);
        ::close(fd);
    }
    VexodProcess first(VEXOD_BINARY, dir.path(), R"({})");
    EXPECT_TRUE(first.process().running());
    ChildProcess second({VEXOD_BINARY, "--socket", first.socket_path()}, dir.file("o"), dir.file("e"));
    EXPECT_TRUE(exited_with(second.wait(5000ms), 1));
    EXPECT_NE(read_file(dir.file("e")).find("another daemon is listening"), std::string::npos);
    EXPECT_TRUE(exists(first.socket_path()));
}

TEST(VexodLink, SearchAnswersCarryTheScenarioRecords) {
    TempDir dir;
    std::string twelve = R"({"name": "Serial Port Service", "rfcomm_channel": 3})";
    for (int i = 1; i < 12; ++i) twelve += R"(, {"name": "Serial Port Service", "rfcomm_channel": 3})";
    VexodProcess vexod(VEXOD_BINARY, dir.path(), R"({"devices": [
        {"address": "00:1c:88:30:5e:01", "search_delay_ms": 0, "services": [
            {"name": "SPP Slave", "rfcomm_channel": 1}, {"name": "GPS Receiver", "rfcomm_channel": 2},
            {"name": "Control", "service_class": "0x1102"}]},
        {"address": "00:1c:88:30:5e:02", "switched_off": true, "services": [{"name": "SPP", "rfcomm_channel": 1}]},
        {"address": "00:1c:88:30:5e:03"}, {"address": "00:1c:88:30:5e:04", "services": [)" + twelve + "]}]}");
    RawClient client(vexod.socket_path());

    // Address, pattern and attribute lengths, result, the pattern echoed,
    // then the attribute lists.
    ASSERT_EQ(search(client, address()), 0u);
    Bytes frame;
    vgps::vexod_search_response_msg n;
    ASSERT_TRUE(next(client, &frame, &n));
    EXPECT_EQ(n.remote, address());
    EXPECT_EQ(n.result, 0u);
    EXPECT_EQ(Bytes(n.pattern.data, n.pattern.data + n.pattern.size), (Bytes{0x35, 0x03, 0x19, 0x11, 0x01}));
    const Bytes attributes(n.attributes.data, n.attributes.data + n.attributes.size);
    const std::vector<DecodedRecord> records = decode_records(attributes);
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].name, "SPP Slave");
    EXPECT_EQ(records[0].channel, 1);
    EXPECT_EQ(records[1].name, "GPS Receiver");
    EXPECT_EQ(records[1].channel, 2);
    EXPECT_EQ(records[1].service_class, 0x1101);
    EXPECT_EQ(records[2].channel, 0) << "no RFCOMM";
    EXPECT_EQ(records[2].service_class, 0x1102);

    // Switched off, or not in range: the search is not performed. In range
    // without a serial port: an empty sequence.
    const struct {
        uint8_t last;
        uint32_t result;
        Bytes attributes;
    } others[] = {{0x02, 0x03020004, {}}, {0x77, 0x03020004, {}}, {0x03, 0, {0x35, 0x00}}};
    for (const auto& o : others) {
        ASSERT_EQ(search(client, address(o.last)), 0u);
        ASSERT_TRUE(next(client, &frame, &n));
        EXPECT_EQ(n.remote, address(o.last));
        EXPECT_EQ(n.result, o.result);
        EXPECT_EQ(Bytes(n.attributes.data, n.attributes.data + n.attributes.size), o.attributes);
    }
    // Long answers take the sequence header with a 16-bit length.
    ASSERT_EQ(search(client, address(0x04)), 0u);
    ASSERT_TRUE(next(client, &frame, &n));
    ASSERT_GE(n.attributes.size, 1u);
    EXPECT_EQ(n.attributes.data[0], 0x36);
    EXPECT_EQ(decode_records(Bytes(n.attributes.data, n.attributes.data + n.attributes.size)).size(), 12u);
}

TEST(VexodLink, ReplaysARecordedCaptureInOrderThenEndsTheLink) {
    TempDir dir;
    const std::string capture_path = std::string(VGPS_TEST_DATA_DIR) + "/nmea/haicom-305N.log";
    vgps::test::write_file(dir.file("s.json"), R"({"link": {"speed": 1}, "devices": [{"address": "00:1c:88:30:5e:01",
        "connect_delay_ms": 0, "services": [{"name": "GPS", "rfcomm_channel": 2}], "nmea_file": ")" +
                                                   capture_path + "\"}]}");
    // --speed 0 (as fast as the socket takes it) overrides the scenario.
    vgps::test::ChildProcess vexod(
        {VEXOD_BINARY, "--socket", dir.file("v.sock"), "--scenario", dir.file("s.json"), "--speed", "0"},
        dir.file("out"), dir.file("err"));
    ASSERT_TRUE(vgps::test::wait_for_text(dir.file("err"), "listening on"));
    RawClient client(dir.file("v.sock"));

    const Connected c = connect(client, 0x01, 2);
    ASSERT_EQ(c.result, 0u);
    EXPECT_EQ(c.channel, 2);
    struct stat st;
    ASSERT_EQ(::stat(folder_of(c.path).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u) << "a private folder";
    ASSERT_EQ(::stat(c.path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));

    const int data = vgps::test::connect_unix(c.path);
    ASSERT_GE(data, 0) << std::strerror(errno);
    const std::vector<std::string> sentences = checked_sentences(read_to_end(data));
    // The capture's data lines, in order, '#' lines dropped.
    const std::string capture = vgps::test::read_file(capture_path);
    std::vector<std::string> expected;
    for (size_t pos = 0; pos < capture.size();) {
        const size_t end = capture.find('\n', pos);
        std::string line = capture.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty() && line[0] != '#') expected.push_back(line);
    }
    EXPECT_EQ(sentences, expected);
    EXPECT_EQ(end_reason(client, 2), 0u) << "end of the recorded stream";
    EXPECT_FALSE(exists(folder_of(c.path)));
}

TEST(VexodLink, GeneratedStreamMovesUntilDropped) {
    TempDir dir;
    VexodProcess vexod(VEXOD_BINARY, dir.path(), R"({"link": {"speed": 20}, "devices": [
        {"address": "00:1c:88:30:5e:01", "services": [{"rfcomm_channel": 1}],
         "generator": {"lat": -33.5, "lon": 151.25, "start_time": 1315989005},
         "link_faults": {"drop_after_epochs": 6}}]})");
    RawClient client(vexod.socket_path());
    const Connected c = connect(client, 0x01);
    ASSERT_EQ(c.result, 0u);
    const int data = vgps::test::connect_unix(c.path);
    ASSERT_GE(data, 0);
    // GGA, GSA, three GSV, RMC and VTG each epoch, one second apart, moving.
    const std::vector<std::string> sentences = checked_sentences(read_to_end(data));
    ASSERT_EQ(sentences.size(), 6u * 7);
    EXPECT_EQ(sentences[0].rfind("$GPGGA,083005.00,3330.0000,S,15115.0000,E,1,", 0), 0u) << sentences[0];
    EXPECT_TRUE(sentences[5].rfind("$GPRMC", 0) == 0 && sentences[5].find(",140911,") != std::string::npos)
        << sentences[5];
    EXPECT_EQ(sentences[35].rfind("$GPGGA,083010.00,", 0), 0u) << sentences[35];
    EXPECT_EQ(sentences[35].find("3330.0000,S"), std::string::npos) << sentences[35];
    EXPECT_EQ(end_reason(client), 1u) << "dropped";
    EXPECT_FALSE(exists(folder_of(c.path)));
}

TEST(VexodLink, FailedConnectsAndPathsNobodyCanUse) {
    TempDir dir;
    VexodProcess vexod(VEXOD_BINARY, dir.path(), R"({"link": {"speed": 1, "accept_timeout_ms": 300},
      "devices": [
        {"address": "00:1c:88:30:5e:01", "connect_delay_ms": 0, "services": [{"rfcomm_channel": 1}]},
        {"address": "00:1c:88:30:5e:02", "services": [{"rfcomm_channel": 1}], "link_faults": {"connect_result": 4}},
        {"address": "00:1c:88:30:5e:03", "services": [{"rfcomm_channel": 1}], "switched_off": true},
        {"address": "00:1c:88:30:5e:04", "services": [{"rfcomm_channel": 1}], "link_faults": {"socket_path": "missing"}},
        {"address": "00:1c:88:30:5e:05", "services": [{"rfcomm_channel": 1}], "link_faults": {"socket_path": "refused"}},
        {"address": "00:1c:88:30:5e:06", "services": [{"rfcomm_channel": 1}], "link_faults": {"socket_path": "long"}}]})");
    RawClient client(vexod.socket_path());

    // A link that is up, then asked for again while the application never
    // connects to it.
    const Connected up = connect(client, 0x01);
    ASSERT_EQ(up.result, 0u);
    EXPECT_EQ(connect(client, 0x01).result, 16u) << "busy";
    EXPECT_EQ(end_reason(client), 2u) << "the application did not connect";
    EXPECT_FALSE(exists(folder_of(up.path)));

    // No such channel, a connect fault, switched off, not in range.
    const struct {
        uint8_t last, channel;
        uint32_t result;
    } refused[] = {{0x01, 3, 111}, {0x02, 1, 4}, {0x03, 1, 112}, {0x7e, 1, 112}};
    for (const auto& r : refused) {
        const Connected c = connect(client, r.last, r.channel);
        EXPECT_EQ(c.result, r.result) << int(r.last);
        EXPECT_EQ(c.path, "");
    }

    const struct {
        uint8_t last;
        int error;
    } unusable[] = {{0x04, ENOENT}, {0x05, ECONNREFUSED}, {0x06, ENAMETOOLONG}};
    for (const auto& u : unusable) {
        const Connected c = connect(client, u.last);
        ASSERT_EQ(c.result, 0u);
        EXPECT_EQ(vgps::test::connect_unix(c.path), -1);
        EXPECT_EQ(errno, u.error) << c.path;
        EXPECT_TRUE(u.error != ENAMETOOLONG || c.path.size() > 103) << "longer than a socket address takes";
        EXPECT_EQ(end_reason(client), 2u);
        EXPECT_FALSE(exists(folder_of(c.path)));
    }
}

TEST(VexodLink, SurvivesTheApplicationClosingItsEndAndTheClientLeaving) {
    TempDir dir;
    VexodProcess vexod(VEXOD_BINARY, dir.path(), R"({"link": {"speed": 20}, "devices": [
        {"address": "00:1c:88:30:5e:01", "services": [{"rfcomm_channel": 1}]}]})");
    RawClient client(vexod.socket_path());
    Connected c = connect(client, 0x01);
    int data = vgps::test::connect_unix(c.path);
    ASSERT_GE(data, 0);
    char buf[1];
    EXPECT_EQ(::read(data, buf, 1), 1) << "streaming";
    ::close(data);
    EXPECT_EQ(end_reason(client), 3u) << "the application closed its end";
    EXPECT_FALSE(exists(folder_of(c.path)));

    // The same device again; this time the daemon's client leaves while the
    // link streams.
    c = connect(client, 0x01);
    data = vgps::test::connect_unix(c.path);
    ASSERT_GE(data, 0);
    EXPECT_EQ(::read(data, buf, 1), 1) << "streaming";
    client.close();
    read_to_end(data);
    EXPECT_FALSE(exists(folder_of(c.path)));
    RawClient next(vexod.socket_path());
    EXPECT_EQ(next.request(5), 0u);
}

// Binds a local socket at `path` and closes it: the file stays, as a killed
// daemon leaves it.
void leave_dead_socket(const std::string& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::snprintf(a.sun_path, sizeof a.sun_path, "%s", path.c_str());
    EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0) << path;
    ::close(fd);
}

// $TMPDIR, where the daemons started meanwhile make their link folders.
class ScopedTmpdir {
public:
    explicit ScopedTmpdir(const std::string& dir) {
        if (const char* old = std::getenv("TMPDIR")) old_ = old;
        ::setenv("TMPDIR", dir.c_str(), 1);
    }
    ~ScopedTmpdir() { old_.empty() ? ::unsetenv("TMPDIR") : ::setenv("TMPDIR", old_.c_str(), 1); }
    ScopedTmpdir(const ScopedTmpdir&) = delete;
    ScopedTmpdir& operator=(const ScopedTmpdir&) = delete;

private:
    std::string old_;
};

TEST(VexodLink, StartRemovesTheLinkFoldersOfAKilledDaemonOnly) {
    TempDir dir, tmp;
    const ScopedTmpdir scoped(tmp.path());
    const char* const scenario = R"({"link": {"accept_timeout_ms": 60000}, "devices": [
        {"address": "00:1c:88:30:5e:01", "services": [{"rfcomm_channel": 1}]},
        {"address": "00:1c:88:30:5e:05", "services": [{"rfcomm_channel": 1}], "link_faults": {"socket_path": "refused"}}]})";
    std::string killed;  // the folder of a link of a daemon killed while it was up
    {
        VexodProcess vexod(VEXOD_BINARY, dir.path(), scenario, "killed.sock");
        RawClient client(vexod.socket_path());
        const Connected c = connect(client, 0x01);
        ASSERT_EQ(c.result, 0u);
        killed = folder_of(c.path);
        vexod.process().signal(SIGKILL);
        vexod.process().wait(5000ms);
    }
    ASSERT_TRUE(exists(killed + "/rfcomm"));

    // Folders that are not a dead link's: something beside the socket,
    // nothing at all, another name, a link to a folder, another user's.
    std::vector<std::string> kept;
    for (const char* name : {"vexod-link-extra1", "vexod-link-empty1", "vexod-linkage", "elsewhere"}) {
        ASSERT_EQ(::mkdir(tmp.file(name).c_str(), 0700), 0);
        if (std::strcmp(name, "vexod-link-empty1") != 0) leave_dead_socket(tmp.file(name) + "/rfcomm");
        kept.push_back(tmp.file(name));
    }
    vgps::test::write_file(tmp.file("vexod-link-extra1/notes"), "mine");
    ASSERT_EQ(::symlink(tmp.file("elsewhere").c_str(), tmp.file("vexod-link-symlnk").c_str()), 0);
    kept.push_back(tmp.file("elsewhere/rfcomm"));
    if (::geteuid() == 0) {
        const std::string foreign = tmp.file("vexod-link-others");
        ASSERT_EQ(::mkdir(foreign.c_str(), 0700), 0);
        leave_dead_socket(foreign + "/rfcomm");
        ASSERT_EQ(::chown((foreign + "/rfcomm").c_str(), 65534, 65534), 0);
        ASSERT_EQ(::chown(foreign.c_str(), 65534, 65534), 0);
        kept.push_back(foreign + "/rfcomm");
    }

    // The next daemon's start removes the killed one's folder, and only it.
    VexodProcess live(VEXOD_BINARY, dir.path(), scenario, "live.sock");
    EXPECT_FALSE(exists(killed));
    EXPECT_NE(live.log().find("<vexod> removed " + killed + ", left by a daemon that is gone"), std::string::npos)
        << live.log();
    for (const std::string& path : kept) EXPECT_TRUE(exists(path)) << path;

    // The links of a live daemon, one listening, one bound but refusing
    // connections (from the outside, as dead as the killed one), survive
    // the start of another.
    RawClient client(live.socket_path());
    const Connected listening = connect(client, 0x01), refusing = connect(client, 0x05);
    ASSERT_EQ(listening.result + refusing.result, 0u);
    VexodProcess next(VEXOD_BINARY, dir.path(), "{}", "next.sock");
    EXPECT_EQ(next.log().find("removed"), std::string::npos) << next.log();
    EXPECT_TRUE(exists(listening.path));
    EXPECT_TRUE(exists(refusing.path));
    // The live daemon's links are as they were.
    const int data = vgps::connect_local(listening.path);
    ASSERT_GE(data, 0);
    char byte;
    EXPECT_EQ(::read(data, &byte, 1), 1) << "streaming";
    ::close(data);
    EXPECT_EQ(vgps::connect_local(refusing.path), -1);
    EXPECT_EQ(errno, ECONNREFUSED);
}

}  // namespace
}  // namespace vexod

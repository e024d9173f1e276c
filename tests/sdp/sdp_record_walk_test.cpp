// The record walk and channel choice over whole responses: built records,
// real devices' records, and hostile bytes.
#include "sdp/sdp_record_walk.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/log.h"
#include "sdp/sdp_guard.h"
#include "sdp_records.h"

namespace vgps::test {
namespace {

using Lines = std::vector<std::string>;

const bdaddr kAddr{{0x00, 0x06, 0x66, 0x0a, 0xbc, 0xde}};
const std::string kMe = std::string("<") + kServiceQueryResponseName + "> ";

struct Walk {
    int channel;
    Lines lines;      // every line logged
    Lines own_lines;  // the walk's own lines, without the prefix
    size_t records;   // records listed
};

bool contains(const Lines& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

Walk walk(const Bytes& attrs) {
    LogCapture capture;
    Walk w;
    w.channel = sdp_choose_rfcomm_channel(attrs.data(), static_cast<uint32_t>(attrs.size()), kAddr);
    w.lines = capture.lines();
    w.records = 0;
    for (const std::string& line : w.lines) {
        if (line.rfind(kMe, 0) == 0) w.own_lines.push_back(line.substr(kMe.size()));
        if (line.rfind("<print_service_attr> ---", 0) == 0) ++w.records;
    }
    return w;
}

// A serial port record on `channel` (none when 0: L2CAP only) named `name`.
Bytes spp(uint8_t channel, const char* name) {
    RecordBuilder b;
    b.handle(0x10000 + channel).classes({uuid16(SERIAL_PORT_SVCLASS_ID)}).info(name);
    if (channel != 0) {
        b.protocols({{uuid16(L2CAP_UUID), {}}, {uuid16(RFCOMM_UUID), {{SDP_UINT8, channel}}}});
    } else {
        b.protocols({{uuid16(L2CAP_UUID), {{SDP_UINT16, 0x1001}}}});
    }
    return b.pdu();
}

TEST(SdpWalk, ChoosesTheGpsChannelOnlyAmongSeveralRecords) {
    struct Case {
        const char* what;
        std::vector<Bytes> records;
        int channel;
    };
    const Case cases[] = {
        {"one record without GPS", {spp(1, "COM1")}, 1},
        {"GPS second of two", {spp(1, "COM1"), spp(2, "BT GPS")}, 2},
        {"lower-case gps first", {spp(4, "gps port"), spp(5, "COM5")}, 4},
        {"single GPS record", {spp(3, "GPS")}, 3},
        {"GPS name without RFCOMM last", {spp(2, "GPS"), spp(0, "GPS too")}, 2},
        {"GPS names on both", {spp(6, "GPS a"), spp(9, "GpS b")}, 9},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Walk w = walk(response(c.records));
        EXPECT_EQ(w.channel, c.channel);
        EXPECT_EQ(w.records, c.records.size());
        EXPECT_EQ(w.own_lines.back(), "BD_ADDR: 00:06:66:0a:bc:de");
    }
}

TEST(SdpWalk, LogsEachNameAfterItsListingThenTheAddress) {
    const Walk w = walk(response({spp(1, "COM1"), spp(2, "Holux GPS")}));
    EXPECT_EQ(w.own_lines, (Lines{"Serial Port Service Name: [COM1]",
                                  "Serial Port Service Name: [Holux GPS]",
                                  "BD_ADDR: 00:06:66:0a:bc:de"}));
    // Listing of record 1, its name line, listing of record 2, its name line.
    const auto name1 = std::find(w.lines.begin(), w.lines.end(), kMe + "Serial Port Service Name: [COM1]");
    ASSERT_NE(name1, w.lines.end());
    EXPECT_EQ(*(name1 + 1), "<print_service_attr> ------------------------------------------------------------");
    EXPECT_EQ(*(name1 - 1), "<print_service_desc>     Channel: 1");
}

TEST(SdpWalk, NothingToConnectTo) {
    for (const Bytes& attrs : {Bytes{}, Bytes{0x35, 0x00}, response({spp(0, "GPS")}),
                               response({RecordBuilder().handle(5).pdu()})}) {
        const Walk w = walk(attrs);
        EXPECT_EQ(w.channel, 0);
        EXPECT_EQ(w.own_lines.back(), "No rfcomm channel found");
    }
    EXPECT_EQ(walk({}).lines, (Lines{kMe + "No rfcomm channel found"}));
}

TEST(SdpWalk, RealDevices) {
    struct Case {
        const char* file;
        int channel;
        size_t records;
        const char* first_name;
    };
    const Case cases[] = {
        {"rn-spp.hex", 1, 1, "RNI-SPP"},
        {"chsmartbulb.hex", 2, 1, "Serial Port Service - Channel 2"},
        {"elm327.hex", 1, 1, "SPP"},
        {"pebble.hex", 1, 1, "Serial Port Server Port 1"},
        {"dialog-audio.hex", 2, 6, "COM5"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const Walk w = walk(fixture(c.file));
        EXPECT_EQ(w.channel, c.channel);
        EXPECT_EQ(w.records, c.records);
        ASSERT_FALSE(w.own_lines.empty());
        EXPECT_EQ(w.own_lines.front(), std::string("Serial Port Service Name: [") + c.first_name + "]");
        EXPECT_EQ(w.own_lines.back(), "BD_ADDR: 00:06:66:0a:bc:de");
    }
}

TEST(SdpWalk, EveryCutOfARealResponseKeepsTheRecordsBeforeTheCut) {
    const Bytes full = fixture("dialog-audio.hex");
    // Where each of the six records ends (outer header 36 02 73, then
    // records with 8-bit length headers).
    std::vector<size_t> ends;
    for (size_t at = 3; at < full.size(); at += 2 + full[at + 1]) ends.push_back(at + 2 + full[at + 1]);
    ASSERT_EQ(ends.size(), 6u);
    ASSERT_EQ(ends.back(), full.size());

    for (size_t n = 0; n <= full.size(); ++n) {
        SCOPED_TRACE(n);
        const Walk w = walk(Bytes(full.begin(), full.begin() + static_cast<long>(n)));
        const auto whole = static_cast<size_t>(
            std::count_if(ends.begin(), ends.end(), [&](size_t e) { return e <= n; }));
        EXPECT_EQ(w.records, whole);
        EXPECT_EQ(w.channel, whole > 0 ? 2 : 0);
        const bool at_boundary = n < 3 || std::find(ends.begin(), ends.end(), n) != ends.end();
        const bool stopped = contains(w.own_lines, "sdp_extract_pdu() failed") ||
                             contains(w.own_lines, "empty sdp record");
        EXPECT_EQ(stopped, !at_boundary);
    }
}

TEST(SdpWalk, HostileLengthsStopTheWalkBeforeLibbluetoothSeesThem) {
    struct Case {
        const char* what;
        const char* hex;
        const char* stop;  // the walk's last line before the verdict
    };
    const Case cases[] = {
        // libbluetooth returns -11 bytes consumed for this record.
        {"record length above INT_MAX", "350d 37fffffff0 0900000a00010000", "sdp_extract_pdu() failed"},
        {"record longer than the response", "350a 35ff 0900000a00010000", "sdp_extract_pdu() failed"},
        // libbluetooth loops for ever on a cut sequence header at the end.
        {"cut sequence header inside a sequence", "3509 3507 090004 3502 3600", "sdp_extract_pdu() failed"},
        {"sequence longer than its record", "350f 350d 0900000a00010000 090004 3520", "sdp_extract_pdu() failed"},
        {"element overrunning its sequence", "350c 350a 090004 3504 3503 190003", "sdp_extract_pdu() failed"},
        {"32-bit length string", "350c 350a 090100 2700000002 4142", "sdp_extract_pdu() failed"},
        {"unknown element type", "3508 3506 090100 2a 0000", "sdp_extract_pdu() failed"},
        {"attribute ID not a uint16", "3509 3507 0a00000000 0800", "sdp_extract_pdu() failed"},
        {"handle as a string", "350b 3509 090000 2504 41424344", "sdp_extract_pdu() failed"},
        // libbluetooth frees the first value of a repeated ID, leaking an
        // ALT's children.
        {"repeated attribute ID", "350e 350c 090200 3d02 0801 090200 3d02 0802", "sdp_extract_pdu() failed"},
        {"not a sequence where a record starts", "3503 190003", "empty sdp record"},
        {"cut record header", "3501 36", "empty sdp record"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Walk w = walk(from_hex(c.hex));
        EXPECT_EQ(w.channel, 0);
        ASSERT_GE(w.own_lines.size(), 2u);
        EXPECT_EQ(w.own_lines[w.own_lines.size() - 2], c.stop);
        EXPECT_EQ(w.own_lines.back(), "No rfcomm channel found");
    }
}

// A record holding attribute 0x0009 as `levels` sequences nested around a
// uint8.
Bytes nested_record(size_t levels) {
    Bytes value{SDP_UINT8, 1};
    for (size_t i = 0; i < levels; ++i) value = seq16(value);
    Bytes content;
    content.reserve(3 + value.size());
    content.push_back(SDP_UINT16);
    content.push_back(0x00);
    content.push_back(0x09);
    content.insert(content.end(), value.begin(), value.end());
    return seq16(content);
}

// A record holding attribute 0x0200 as a sequence of `count` UUIDs.
Bytes uuid_record(size_t count) {
    Bytes value;
    for (size_t i = 0; i < count; ++i) {
        value.push_back(SDP_UUID16);
        value.push_back(static_cast<uint8_t>((i + 1) >> 8));
        value.push_back(static_cast<uint8_t>(i + 1));
    }
    value = seq16(value);
    Bytes content;
    content.reserve(3 + value.size());
    content.push_back(SDP_UINT16);
    content.push_back(0x02);
    content.push_back(0x00);
    content.insert(content.end(), value.begin(), value.end());
    return seq16(content);
}

TEST(SdpWalk, OversizedRecordsAreRefused) {
    // libbluetooth would recurse 20000 levels deep.
    Walk w = walk(response({nested_record(20000)}));
    EXPECT_EQ(w.own_lines, (Lines{"sdp_extract_pdu() failed", "No rfcomm channel found"}));
    EXPECT_EQ(walk(response({nested_record(kSdpMaxNesting)})).records, 1u);
    EXPECT_EQ(walk(response({nested_record(kSdpMaxNesting + 1)})).records, 0u);

    // Thousands of UUIDs would keep libbluetooth busy for seconds; the
    // attribute's sequence counts as one element.
    EXPECT_EQ(walk(response({uuid_record(kSdpMaxElements - 1)})).records, 1u);
    EXPECT_EQ(walk(response({uuid_record(kSdpMaxElements)})).records, 0u);
}

TEST(SdpWalk, OddButWellFormedRecords) {
    // An alternative (ALT) element is decoded, and freed whole with its
    // record (the leak checker of the sanitizer build sees to that).
    Walk w = walk(from_hex("3525 3523 0900000a00010000 090004 350c 3503190100 3505190003 0805"
                           "090200 3d05 0801 090002"));
    EXPECT_EQ(w.channel, 5);

    // A channel that does not fit the 8-bit field of the connect request.
    w = walk(from_hex("351c 351a 0900000a00010000 090004 350d 3503190100 3506190003090101"));
    EXPECT_EQ(w.channel, 0);

    // A name that is not UTF-8 is listed but not looked at for GPS.
    w = walk(response({spp(1, "COM1"), spp(2, "GPS\xff")}));
    EXPECT_EQ(w.channel, 1);
    EXPECT_EQ(w.own_lines,
              (Lines{"Serial Port Service Name: [COM1]", "BD_ADDR: 00:06:66:0a:bc:de"}));
    EXPECT_TRUE(contains(w.lines, "<sdp_record_print> Service Name: GPS\xff"));

    // A name that is a number is neither listed nor looked at.
    w = walk(from_hex("3523 3521 0900000a00010000 090004 350c 3503190100 3505190003 0803"
                      "0901000a47505300"));
    EXPECT_EQ(w.channel, 3);
    EXPECT_EQ(w.own_lines, (Lines{"BD_ADDR: 00:06:66:0a:bc:de"}));
}

}  // namespace
}  // namespace vgps::test

// The SDP subsystem against real libbluetooth: the listing of records in the
// log, the record walk and channel choice over whole responses (built
// records, real devices' records from tests/data/sdp, hostile bytes), and the
// sdp-dump tool run as a process (other checks read its output, so its exact
// lines and exit codes matter). Records are built with libbluetooth's record
// API and sent through its encoder.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <utility>

#include "platform/log.h"
#include "sdp/sdp_guard.h"
#include "sdp/sdp_parser.h"
#include "sdp/sdp_record_walk.h"
#include "support/process.h"
#include "support/temp_dir.h"

namespace vgps::test {
namespace {

using Bytes = std::vector<uint8_t>;
using Lines = std::vector<std::string>;

// The bytes of the hex digits in `text`, skipping anything else.
Bytes from_hex(const std::string& text) {
    Bytes out;
    std::string pair;
    for (char c : text) {
        if (std::isxdigit(static_cast<unsigned char>(c)) != 0) pair += c;
        if (pair.size() == 2) out.push_back(static_cast<uint8_t>(std::stoul(std::exchange(pair, ""), nullptr, 16)));
    }
    return out;
}

// A response of tests/data/sdp as bytes.
Bytes fixture(const std::string& name) {
    return from_hex(read_file(std::string(VGPS_TEST_DATA_DIR) + "/sdp/" + name));
}

// `content` behind a SEQ16 header.
Bytes seq16(const Bytes& content) {
    Bytes out{SDP_SEQ16, static_cast<uint8_t>(content.size() >> 8), static_cast<uint8_t>(content.size())};
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

// The attribute bytes of a response holding these records.
Bytes response(const std::vector<Bytes>& records) {
    Bytes body;
    for (const Bytes& r : records) body.insert(body.end(), r.begin(), r.end());
    return seq16(body);
}

uuid_t uuid16(uint16_t v) { uuid_t u; return *sdp_uuid16_create(&u, v); }
// From its text form, "00001101-0000-1000-8000-00805f9b34fb".
uuid_t uuid128(const char* text) { uuid_t u; return *sdp_uuid128_create(&u, from_hex(text).data()); }

// Protocol descriptor parameters: the record copies scalars and takes over
// sequences.
sdp_data_t* u8(uint8_t v) { return sdp_data_alloc(SDP_UINT8, &v); }
sdp_data_t* u16(uint16_t v) { return sdp_data_alloc(SDP_UINT16, &v); }

using Proto = std::pair<uuid_t, std::vector<sdp_data_t*>>;  // a UUID and its parameters

// A record under construction; freed with the builder.
class RecordBuilder {
public:
    RecordBuilder() : rec_(sdp_record_alloc()) {}
    ~RecordBuilder() { sdp_record_free(rec_); }
    RecordBuilder(const RecordBuilder&) = delete;
    RecordBuilder& operator=(const RecordBuilder&) = delete;
    sdp_record_t* get() { return rec_; }

    RecordBuilder& handle(uint32_t h) {
        sdp_attr_add_new(rec_, SDP_ATTR_RECORD_HANDLE, SDP_UINT32, &h);
        rec_->handle = h;
        return *this;
    }
    RecordBuilder& info(const char* name, const char* provider = nullptr, const char* description = nullptr) {
        sdp_set_info_attr(rec_, name, provider, description);
        return *this;
    }
    RecordBuilder& classes(std::vector<uuid_t> uuids) { return set(sdp_set_service_classes, uuids); }
    // Sets a list attribute: hands `items` to `setter` (an sdp_set_ routine)
    // as an sdp_list_t of pointers to them.
    template <typename Setter, typename T>
    RecordBuilder& set(Setter setter, std::vector<T> items) {
        sdp_list_t* list = nullptr;
        for (T& item : items) list = sdp_list_append(list, &item);
        setter(rec_, list);
        sdp_list_free(list, nullptr);
        return *this;
    }

    RecordBuilder& protocols(const std::vector<Proto>& stack) {
        // A list per descriptor: the UUID (libbluetooth reads a uuid_t in
        // place of a data element, its type doubling as the element type),
        // then the parameters.
        sdp_list_t* descriptors = nullptr;
        for (const Proto& proto : stack) {
            sdp_list_t* d = sdp_list_append(nullptr, const_cast<uuid_t*>(&proto.first));
            for (sdp_data_t* param : proto.second) d = sdp_list_append(d, param);
            descriptors = sdp_list_append(descriptors, d);
        }
        sdp_list_t* stacks = sdp_list_append(nullptr, descriptors);
        sdp_set_access_protos(rec_, stacks);
        sdp_list_free(stacks, nullptr);
        // Frees the scalars, which the record copied; the UUIDs are the
        // caller's and the sequences the record's now.
        for (sdp_list_t* d = descriptors; d != nullptr; d = d->next) {
            sdp_list_free(static_cast<sdp_list_t*>(d->data), [](void* e) {
                auto* data = static_cast<sdp_data_t*>(e);
                if (!SDP_IS_UUID(data->dtd) && !SDP_IS_SEQ(data->dtd)) sdp_data_free(data);
            });
        }
        sdp_list_free(descriptors, nullptr);
        return *this;
    }

    // The record as a device sends it: a sequence of attribute ID / value
    // pairs, built as sdp_gen_record_pdu would but in an ample buffer (in
    // libbluetooth 5.66 it drops the last attribute of a record holding no
    // sequence: a handle-only record comes out empty).
    Bytes pdu() const {
        Bytes out(65536);
        sdp_buf_t buf{out.data(), 0, static_cast<uint32_t>(out.size())};
        auto append = [](void* attr, void* to) {
            sdp_append_to_pdu(static_cast<sdp_buf_t*>(to), static_cast<sdp_data_t*>(attr));
        };
        sdp_list_foreach(rec_->attrlist, append, &buf);
        out.resize(buf.data_size);
        return out.empty() ? Bytes{SDP_SEQ8, 0} : out;
    }

private:
    sdp_record_t* rec_;
};

const std::string kRule = "<print_service_attr> ------------------------------------------------------------";
const std::string kMe =
    "<-[DaemonManager serviceQueryResponse:remote:patten:patten_len:attribute:attribute_len:result:]> ";

// The lines print_service_desc logs for these texts.
Lines descs(const Lines& texts) {
    Lines lines;
    for (const std::string& text : texts) lines.push_back("<print_service_desc> " + text);
    return lines;
}

// Decodes one record's bytes with libbluetooth and lists it, from line
// `first` on.
Lines listing(const Bytes& pdu, size_t first = 0) {
    int scanned = 0;
    sdp_record_t* rec = sdp_extract_pdu(pdu.data(), static_cast<int>(pdu.size()), &scanned);
    EXPECT_EQ(scanned, static_cast<int>(pdu.size()));
    LogCapture capture;
    print_service_attr(rec);
    sdp_record_free(rec);
    const Lines lines = capture.lines();
    return first < lines.size() ? Lines(lines.begin() + static_cast<long>(first), lines.end()) : Lines{};
}

TEST(SdpListing, HandleOnlyRecordsListTwoLinesAndNoHandleListsTheAllocatorsValue) {
    const Lines handle_only{kRule, "<print_service_attr> Service Record Handle: 0x00000001"};
    EXPECT_EQ(listing(RecordBuilder().handle(1).pdu()), handle_only);
    // Attributes of the wrong type leave their section out: name as a
    // number, class list of strings, protocol list as a number, language
    // list as a string, profile list as a uint8.
    EXPECT_EQ(listing(from_hex("352c 0900000a00000001 0901000a41424344 090001 3503 250141"
                               "090004 0a00000003 090006 25026a61 090009 0805")),
              handle_only);
    RecordBuilder without;
    EXPECT_EQ(listing(without.classes({uuid16(SERIAL_PORT_SVCLASS_ID)}).pdu(), 1).at(0),
              "<print_service_attr> Service Record Handle: 0xffffffff");
}

TEST(SdpListing, ProtocolParametersAreNamedByProtocolTypeAndPosition) {
    RecordBuilder b;
    b.handle(1).protocols({
        {uuid16(L2CAP_UUID), {u16(0x000f), u16(0x0100)}},
        {uuid16(BNEP_UUID),
         {u16(0x0100), u16(0x0800), sdp_data_alloc(SDP_SEQ16, sdp_seq_append(u16(0x0800), u16(0x0806)))}},
        {uuid16(OBEX_UUID), {u8(0x2a)}},
    });
    EXPECT_EQ(listing(b.pdu(), 3), descs({"  \"L2CAP\" (0x0100)", "    PSM: 15", "    Version: 0x0100",
                                          "  \"BNEP\" (0x000f)", "    Version: 0x0100", "    uint16: 0x0800",
                                          "    SEQ16:", "        uint16: 0x0800", "        uint16: 0x0806", "",
                                          "  \"OBEX\" (0x0008)", "    uint8: 0x2a"}));

    // Written by hand, as the record API cannot build them: RFCOMM with a
    // 32-bit value and a boolean.
    EXPECT_EQ(listing(from_hex("3519 0900000a00000001 090004 350c 350a 190003 0a12345678 2801"), 3),
              descs({"  \"RFCOMM\" (0x0003)", "    uint32: 0x12345678", "    FIXME: dtd=0x28"}));
}

TEST(SdpListing, LongNamesAreCutAndLongUuidsListedWhole) {
    RecordBuilder cut;
    cut.handle(1).classes({uuid16(DIRECT_PRT_REFOBJS_SVCLASS_ID)}).protocols({{uuid16(HCRP_NOTE_UUID), {}}});
    const Lines lines = listing(cut.pdu());
    EXPECT_EQ(lines.at(3), "<print_service_class>   \"Direct Printing Ref. Object\" (0x1120)");
    EXPECT_EQ(lines.at(5), "<print_service_desc>   \"HCRP-No\" (0x0016)");

    const char* vendor = "00000000-deca-fade-deca-deafdecacaff";
    RecordBuilder b;
    b.handle(1)
        .classes({uuid128("00001101-0000-1000-8000-00805f9b34fb"), uuid128(vendor)})
        .protocols({{uuid128("00000003-0000-1000-8000-00805f9b34fb"), {u8(4)}},
                    {uuid128(vendor), {u8(5)}}});
    EXPECT_EQ(listing(b.pdu(), 2),
              (Lines{
                  "<print_service_attr> Service Class ID List:",
                  "<print_service_class>   UUID 128: 00001101-0000-1000-8000-00805f9b34fb",
                  "<print_service_class>   UUID 128: 00000000-deca-fade-deca-deafdecacaff",
                  "<print_service_attr> Protocol Descriptor List:",
                  "<print_service_desc>   \"RFCOMM\" (0x00000003-0000-1000-8000-00805f9b34fb)",
                  "<print_service_desc>     Channel: 4",
                  "<print_service_desc>   \"\" (0x00000000-deca-fade-deca-deafdecacaff)",
                  "<print_service_desc>     uint8: 0x05",
              }));
}

TEST(SdpListing, OurRecordPrintIsCalledNotLibbluetooths) {
    // libbluetooth's routine of the same name would write to stdout. Listed
    // as built: its strings have no zero byte behind them (ASan checks reads).
    RecordBuilder b;
    b.handle(7).info("GPS Receiver", "Acme", "NMEA over SPP");
    LogCapture capture;
    testing::internal::CaptureStdout();
    print_service_attr(b.get());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(capture.lines(), (Lines{kRule, "<sdp_record_print> Service Name: GPS Receiver",
                                      "<sdp_record_print> Service Description: NMEA over SPP",
                                      "<sdp_record_print> Service Provider: Acme",
                                      "<print_service_attr> Service Record Handle: 0x00000007"}));
}

const std::string kFound = "BD_ADDR: 00:06:66:0a:bc:de";
const std::string kNone = "No rfcomm channel found";

// What a walk returned and logged; own_lines are the walk's, unprefixed.
struct Walk {
    int channel;
    Lines lines, own_lines;
    size_t records;
};

Walk walk(const Bytes& attrs) {
    LogCapture capture;
    const bdaddr addr{{0x00, 0x06, 0x66, 0x0a, 0xbc, 0xde}};
    Walk w{sdp_choose_rfcomm_channel(attrs.data(), static_cast<uint32_t>(attrs.size()), addr), capture.lines(), {}, 0};
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
    std::vector<Proto> stack{{uuid16(L2CAP_UUID), {}}};
    if (channel != 0) stack.push_back({uuid16(RFCOMM_UUID), {u8(channel)}});
    return b.protocols(stack).pdu();
}

TEST(SdpWalk, ChoosesTheGpsChannelOnlyAmongSeveralRecords) {
    const struct {
        const char* what;
        Bytes attrs;
        int channel;
        size_t records;
    } cases[] = {
        {"one record without GPS", response({spp(1, "COM1")}), 1, 1},
        {"GPS second of two", response({spp(1, "COM1"), spp(2, "BT GPS")}), 2, 2},
        {"lower-case gps first", response({spp(4, "gps port"), spp(5, "COM5")}), 4, 2},
        {"single GPS record", response({spp(3, "GPS")}), 3, 1},
        {"GPS name without RFCOMM last", response({spp(2, "GPS"), spp(0, "GPS too")}), 2, 2},
        {"GPS names on both", response({spp(6, "GPS a"), spp(9, "GpS b")}), 9, 2},
        {"GPS name without RFCOMM only", response({spp(0, "GPS")}), 0, 1},
        {"handle only", response({RecordBuilder().handle(5).pdu()}), 0, 1},
        {"empty sequence", {0x35, 0x00}, 0, 0},
        {"no bytes", {}, 0, 0},
        {"rn-spp.hex", fixture("rn-spp.hex"), 1, 1},
        {"chsmartbulb.hex", fixture("chsmartbulb.hex"), 2, 1},
        {"elm327.hex", fixture("elm327.hex"), 1, 1},
        {"pebble.hex", fixture("pebble.hex"), 1, 1},
        {"dialog-audio.hex", fixture("dialog-audio.hex"), 2, 6},
        // A name that is not UTF-8 is not looked at for GPS.
        {"GPS name not UTF-8", response({spp(1, "COM1"), spp(2, "GPS\xff")}), 1, 2},
        // A name that is a number (here "GPS\0" as a uint32) is not read.
        {"name a number",
         from_hex("3523 3521 0900000a00010000 090004 350c 3503190100 3505190003 0803 0901000a47505300"), 3, 1},
        // An ALT element is decoded, and freed whole with its record (the
        // leak checker of the sanitizer build sees to that).
        {"ALT", from_hex("3525 3523 0900000a00010000 090004 350c 3503190100 3505190003 0805 090200 3d05 0801 090002"),
         5, 1},
        // The connect request carries the channel in 8 bits.
        {"channel 257", from_hex("351c 351a 0900000a00010000 090004 350d 3503190100 3506190003090101"), 0, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Walk w = walk(c.attrs);
        EXPECT_EQ(w.channel, c.channel);
        EXPECT_EQ(w.records, c.records);
        EXPECT_EQ(w.lines.back(), kMe + (c.channel != 0 ? kFound : kNone));
    }
}

TEST(SdpWalk, LogsEachNameAfterItsRecordsListing) {
    const Walk w = walk(response({spp(1, "COM1"), spp(2, "BT GPS")}));
    EXPECT_EQ(w.own_lines, (Lines{"Serial Port Service Name: [COM1]", "Serial Port Service Name: [BT GPS]", kFound}));
    const auto name1 = std::find(w.lines.begin(), w.lines.end(), kMe + w.own_lines[0]);
    ASSERT_NE(name1, w.lines.end());
    EXPECT_EQ(*(name1 + 1), "<print_service_attr> ------------------------------------------------------------");
}

TEST(SdpWalk, EveryCutOfARealResponseKeepsTheRecordsBeforeTheCut) {
    const Bytes full = fixture("dialog-audio.hex");
    const size_t ends[] = {70, 157, 245, 353, 495, 630};  // of its six records
    for (size_t n = 0; n <= full.size(); ++n) {
        SCOPED_TRACE(n);
        const Walk w = walk(Bytes(full.begin(), full.begin() + static_cast<long>(n)));
        size_t whole = 0;  // records before the cut
        for (size_t end : ends) whole += end <= n ? 1 : 0;
        EXPECT_EQ(w.records, whole);
        EXPECT_EQ(w.channel, whole > 0 ? 2 : 0);
    }
}

// A response of one record whose attribute 0x0200 holds `count` UUIDs inside
// `levels` nested sequences.
Bytes big_record(size_t levels, size_t count) {
    Bytes value;
    for (size_t i = 1; i <= count; ++i) value.insert(value.end(), {SDP_UUID16, uint8_t(i >> 8), uint8_t(i)});
    for (size_t i = 0; i < levels; ++i) value = seq16(value);
    value.insert(value.begin(), {SDP_UINT16, 0x02, 0x00});
    return response({seq16(value)});
}

TEST(SdpWalk, HostileBytesStopTheWalkBeforeLibbluetoothSeesThem) {
    const char* const failed = "sdp_extract_pdu() failed";
    const struct {
        const char* what;
        Bytes attrs;
        const char* stop;  // the walk's line before the verdict
    } cases[] = {
        // libbluetooth returns -11 bytes consumed for this record.
        {"record length above INT_MAX", from_hex("350d 37fffffff0 0900000a00010000"), failed},
        // libbluetooth loops for ever on a cut sequence header at the end.
        {"cut sequence header inside a sequence", from_hex("3509 3507 090004 3502 3600"), failed},
        {"sequence longer than its record", from_hex("350f 350d 0900000a00010000 090004 3520"), failed},
        {"element overrunning its sequence", from_hex("350c 350a 090004 3504 3503 190003"), failed},
        {"32-bit length string", from_hex("350c 350a 090100 2700000002 4142"), failed},
        {"attribute ID not a uint16", from_hex("3509 3507 0a00000000 0800"), failed},
        {"handle as a string", from_hex("350b 3509 090000 2504 41424344"), failed},
        // libbluetooth frees the first value of a repeated ID, leaking an
        // ALT's children.
        {"repeated attribute ID", from_hex("350e 350c 090200 3d02 0801 090200 3d02 0802"), failed},
        {"not a sequence where a record starts", from_hex("3503 190003"), "empty sdp record"},
        {"cut record header", from_hex("3501 36"), "empty sdp record"},
        {"one level too deep", big_record(kSdpMaxNesting + 1, 1), failed},
        // Thousands of UUIDs keep libbluetooth busy for seconds; the
        // sequence holding them counts as one element.
        {"one element too many", big_record(1, kSdpMaxElements), failed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Walk w = walk(c.attrs);
        EXPECT_EQ(w.records, 0u);
        EXPECT_EQ(w.own_lines, (Lines{c.stop, kNone}));
    }
    EXPECT_EQ(walk(big_record(kSdpMaxNesting, 1)).records, 1u);
    EXPECT_EQ(walk(big_record(1, kSdpMaxElements - 1)).records, 1u);
}

// A serial port record on RFCOMM channel 2 whose handle is `handle`, an
// element of any type.
Bytes record_with_handle(const std::string& handle) {
    return response({seq16(from_hex("090000" + handle + "090004 350c 3503190100 3505190003 0802"))});
}

TEST(SdpWalk, IntegerHandlesOfEverySizeAreReadOthersRefused) {
    const struct {
        const char* handle;
        const char* listed;  // empty: the record is refused
    } cases[] = {
        // Unsigned and signed integers of 8, 16 and 32 bits.
        {"0a00010002", "0x00010002"}, {"090042", "0x00000042"}, {"08ab", "0x000000ab"},
        {"12ffffffff", "0xffffffff"}, {"11fffe", "0x0000fffe"}, {"10ff", "0x000000ff"},
        // UUIDs, 64 bits, a string, a sequence, a boolean, nil.
        {"1a00010002", ""}, {"191101", ""}, {"0b0000000000010002", ""}, {"2504 41424344", ""},
        {"3505 0a00010002", ""}, {"2801", ""},
        {"00", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.handle);
        const Walk w = walk(record_with_handle(c.handle));
        if (*c.listed) {
            EXPECT_EQ(w.channel, 2);
            EXPECT_EQ(w.lines.at(1), std::string("<print_service_attr> Service Record Handle: ") + c.listed);
        } else {
            EXPECT_EQ(w.records, 0u);
            EXPECT_EQ(w.own_lines, (Lines{"sdp_extract_pdu() failed", kNone}));
        }
    }
}

// Runs sdp-dump with `args` (shell words) and stdin from the file `input`.
ShellRun run_dump(const std::string& args, const std::string& input = "/dev/null") {
    return run_shell(std::string(SDP_DUMP_BINARY) + " " + args + " <" + input);
}

TEST(SdpDump, ListsASerialPortRecordFromRawBytesOnStdinOrInAFile) {
    RecordBuilder b;
    b.handle(0x00010000)
        .info("COM1")
        .classes({uuid16(SERIAL_PORT_SVCLASS_ID)})
        .protocols({{uuid16(L2CAP_UUID), {}}, {uuid16(RFCOMM_UUID), {u8(1)}}})
        .set(sdp_set_lang_attr, std::vector<sdp_lang_attr_t>{{0x656e, 0x006a, 0x0100}})
        .set(sdp_set_profile_descs, std::vector<sdp_profile_desc_t>{{uuid16(SERIAL_PORT_PROFILE_ID), 0x0100}});
    TempDir dir;
    const std::string raw = dir.file("spp.bin");
    const Bytes bytes = response({b.pdu()});
    write_file(raw, std::string(bytes.begin(), bytes.end()));
    const Lines expected{
        kRule,
        "<sdp_record_print> Service Name: COM1",
        "<print_service_attr> Service Record Handle: 0x00010000",
        "<print_service_attr> Service Class ID List:",
        "<print_service_class>   \"Serial Port\" (0x1101)",
        "<print_service_attr> Protocol Descriptor List:",
        "<print_service_desc>   \"L2CAP\" (0x0100)",
        "<print_service_desc>   \"RFCOMM\" (0x0003)",
        "<print_service_desc>     Channel: 1",
        "<print_service_attr> Language Base Attribute List:",
        "<print_lang_attr>   code_ISO639: 0x656e",
        "<print_lang_attr>   encoding:    0x6a",
        "<print_lang_attr>   base_offset: 0x100",
        "<print_service_attr> Profile Descriptor List:",
        "<print_profile_desc>   \"Serial Port\" (0x1101)",
        "<print_profile_desc>     Version: 0x0100",
        kMe + "Serial Port Service Name: [COM1]",
        kMe + "BD_ADDR: 00:06:66:4a:0b:c1",
        "channel 1",
    };
    const std::string addr = " --addr 00:06:66:4A:0b:C1";
    for (const std::string& args : {addr, "-" + addr, raw + addr}) {
        const ShellRun r = run_dump(args, raw);
        EXPECT_EQ(r.status, 0) << args;
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.out, expected);
    }
}

TEST(SdpDump, ReadsHexTextOfARealDeviceAndSaysWhenThereIsNoChannel) {
    // Ten lines of hex on stdin.
    ShellRun r = run_dump("--hex -", std::string(VGPS_TEST_DATA_DIR) + "/sdp/dialog-audio.hex");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(Lines(r.out.end() - std::min<long>(2, std::ssize(r.out)), r.out.end()),
              (Lines{kMe + "BD_ADDR: 00:00:00:00:00:00", "channel 2"}));
    r = run_dump("--hex");  // nothing on stdin
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, (Lines{kMe + "No rfcomm channel found", "channel none"}));
}

TEST(SdpDump, RefusesWhatItCannotListAndReportsAFailedWrite) {
    TempDir dir;
    write_file(dir.file("bad.hex"), "35 0x");
    write_file(dir.file("odd.hex"), "350");
    for (const std::string& args : {dir.file("missing"), dir.path(), "--hex " + dir.file("bad.hex"),
                                    "--hex " + dir.file("odd.hex"), std::string("--addr 00:11:22"),
                                    std::string("--bogus")}) {
        const ShellRun r = run_dump(args);
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_TRUE(r.out.empty());
        EXPECT_EQ(r.err.rfind("sdp-dump: ", 0), 0u) << r.err;
    }

    // Zero bytes, one more than 64 MiB (a sparse file: no disk is used),
    // against daemon messages of less than 50 MiB.
    const std::string big = dir.file("big.bin");
    write_file(big, "");
    ASSERT_EQ(::truncate(big.c_str(), (64 << 20) + 1), 0);
    for (const std::string& args : {big, std::string("-")}) {
        const ShellRun r = run_dump(args, big);
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_TRUE(r.out.empty());
        const std::string name = args == "-" ? "stdin" : big;
        EXPECT_EQ(r.err, "sdp-dump: " + name + " holds more than 64 MiB, more than any service search response "
                         "(less than 50 MiB); nothing was listed\n");
    }

    const ShellRun full = run_dump("--hex >/dev/full", std::string(VGPS_TEST_DATA_DIR) + "/sdp/rn-spp.hex");
    EXPECT_EQ(full.status, 2);
    EXPECT_EQ(full.err, "sdp-dump: cannot write the output: No space left on device\n");
}

}  // namespace
}  // namespace vgps::test

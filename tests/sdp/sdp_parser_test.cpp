// The log listing of decoded records: records are built with libbluetooth's
// record API, sent through its encoder, decoded again by sdp_extract_pdu
// (as a response would be) and listed.
#include "sdp/sdp_parser.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/log.h"
#include "sdp_records.h"
#include "support/temp_dir.h"

namespace vgps::test {
namespace {

using Lines = std::vector<std::string>;

// Decodes one record's bytes with libbluetooth and lists it.
Lines listing(const Bytes& pdu) {
    int scanned = 0;
    sdp_record_t* rec = sdp_extract_pdu(pdu.data(), static_cast<int>(pdu.size()), &scanned);
    EXPECT_NE(rec, nullptr);
    EXPECT_EQ(scanned, static_cast<int>(pdu.size()));
    LogCapture capture;
    print_service_attr(rec);
    sdp_record_free(rec);
    return capture.lines();
}

const char* const kRule =
    "<print_service_attr> ------------------------------------------------------------";

TEST(SdpListing, SerialPortRecordListsEveryLineInOrder) {
    RecordBuilder b;
    b.handle(0x00010000)
        .info("COM1")
        .classes({uuid16(SERIAL_PORT_SVCLASS_ID)})
        .protocols({{uuid16(L2CAP_UUID), {}}, {uuid16(RFCOMM_UUID), {{SDP_UINT8, 1}}}})
        .language(0x656e, 0x006a, 0x0100)
        .profile(uuid16(SERIAL_PORT_PROFILE_ID), 0x0100);
    EXPECT_EQ(listing(b.pdu()), (Lines{
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
                                }));
}

TEST(SdpListing, HandleOnlyRecordListsTwoLinesAndNoHandleListsTheAllocatorsValue) {
    RecordBuilder with_handle;
    with_handle.handle(0x00090002);
    EXPECT_EQ(listing(with_handle.pdu()),
              (Lines{kRule, "<print_service_attr> Service Record Handle: 0x00090002"}));

    RecordBuilder without;
    without.classes({uuid16(SERIAL_PORT_SVCLASS_ID)});
    const Lines lines = listing(without.pdu());
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[1], "<print_service_attr> Service Record Handle: 0xffffffff");
}

TEST(SdpListing, ProtocolParametersAreNamedByProtocolAndPosition) {
    RecordBuilder b;
    b.handle(1).protocols({
        {uuid16(L2CAP_UUID), {{SDP_UINT16, 0x000f}, {SDP_UINT16, 0x0100}}},
        {uuid16(BNEP_UUID),
         {{SDP_UINT16, 0x0100}, {SDP_UINT16, 0x0800}, {SDP_SEQ16, 0, {0x0800, 0x0806}}}},
        {uuid16(OBEX_UUID), {{SDP_UINT8, 0x2a}}},
        {uuid16(AVDTP_UUID), {{SDP_UINT16, 0x0103}}},
    });
    const Lines lines = listing(b.pdu());
    const Lines protocols(lines.begin() + 3, lines.end());
    EXPECT_EQ(protocols, (Lines{
                             "<print_service_desc>   \"L2CAP\" (0x0100)",
                             "<print_service_desc>     PSM: 15",
                             "<print_service_desc>     Version: 0x0100",
                             "<print_service_desc>   \"BNEP\" (0x000f)",
                             "<print_service_desc>     Version: 0x0100",
                             "<print_service_desc>     uint16: 0x0800",
                             "<print_service_desc>     SEQ16:",
                             "<print_service_desc>         uint16: 0x0800",
                             "<print_service_desc>         uint16: 0x0806",
                             "<print_service_desc> ",
                             "<print_service_desc>   \"OBEX\" (0x0008)",
                             "<print_service_desc>     uint8: 0x2a",
                             "<print_service_desc>   \"AVDTP\" (0x0019)",
                             "<print_service_desc>     uint16: 0x0103",
                         }));
}

TEST(SdpListing, OtherParameterTypesAreListedByType) {
    // Written by hand: the record API cannot put these in a descriptor.
    // RFCOMM followed by a 32-bit value and a boolean:
    Lines lines = listing(from_hex("3519 0900000a00000001 090004 350c 350a 190003 0a12345678 2801"));
    EXPECT_EQ(Lines(lines.begin() + 3, lines.end()),
              (Lines{"<print_service_desc>   \"RFCOMM\" (0x0003)",
                     "<print_service_desc>     uint32: 0x12345678",
                     "<print_service_desc>     FIXME: dtd=0x28"}));

    // A descriptor that opens with a SEQ8 holding a uint8 and a UUID:
    lines = listing(from_hex("3516 0900000a00000001 090004 3509 3507 3505 0807 190003"));
    EXPECT_EQ(Lines(lines.begin() + 3, lines.end()),
              (Lines{"<print_service_desc>     SEQ8:",
                     "<print_service_desc>         uint8: 0x07",
                     "<print_service_desc>         FIXME: dtd=0x19",
                     "<print_service_desc> "}));
}

TEST(SdpListing, NamesAreCutToTheirBuffers) {
    RecordBuilder b;
    b.handle(1)
        .classes({uuid16(DIRECT_PRT_REFOBJS_SVCLASS_ID)})
        .protocols({{uuid16(HCRP_NOTE_UUID), {}}});
    const Lines lines = listing(b.pdu());
    EXPECT_EQ(lines[3], "<print_service_class>   \"Direct Printing Ref. Object\" (0x1120)");
    EXPECT_EQ(lines[5], "<print_service_desc>   \"HCRP-No\" (0x0016)");
}

TEST(SdpListing, LongUuidsOfClassesAndProtocols) {
    const char* serial_on_base = "00001101-0000-1000-8000-00805f9b34fb";
    const char* vendor = "00000000-deca-fade-deca-deafdecacaff";
    RecordBuilder b;
    b.handle(1)
        .classes({uuid128(serial_on_base), uuid128(vendor)})
        .protocols({{uuid128("00000003-0000-1000-8000-00805f9b34fb"), {{SDP_UINT8, 4}}},
                    {uuid128(vendor), {{SDP_UINT8, 5}}}});
    const Lines lines = listing(b.pdu());
    EXPECT_EQ(Lines(lines.begin() + 2, lines.end()),
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

// Runs `body` with stdout sent to a file and returns what it wrote there.
template <typename Body>
std::string stdout_of(Body body) {
    TempDir dir;
    const std::string path = dir.file("stdout");
    std::fflush(stdout);
    const int saved = dup(STDOUT_FILENO);
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(fd, STDOUT_FILENO);
    close(fd);
    body();
    std::fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);
    return read_file(path);
}

TEST(SdpListing, OurRecordPrintIsCalledNotLibbluetooths) {
    // Built with the API and listed without a trip through the decoder: its
    // strings have no zero byte behind them (ASan checks the reads).
    RecordBuilder b;
    b.handle(7).info("GPS Receiver", "Acme", "NMEA over SPP");
    LogCapture capture;
    const std::string printed = stdout_of([&] { print_service_attr(b.get()); });
    EXPECT_EQ(printed, "");
    EXPECT_EQ(capture.lines(),
              (Lines{kRule, "<sdp_record_print> Service Name: GPS Receiver",
                     "<sdp_record_print> Service Description: NMEA over SPP",
                     "<sdp_record_print> Service Provider: Acme",
                     "<print_service_attr> Service Record Handle: 0x00000007"}));

    // The library's routine of the same name writes to stdout instead.
    const Bytes pdu = b.pdu();
    int scanned = 0;
    sdp_record_t* decoded = sdp_extract_pdu(pdu.data(), static_cast<int>(pdu.size()), &scanned);
    capture.clear();
    const std::string theirs = stdout_of([&] { ::sdp_record_print(decoded); });
    sdp_record_free(decoded);
    EXPECT_NE(theirs.find("Service Name: GPS Receiver"), std::string::npos);
    EXPECT_TRUE(capture.lines().empty());
}

TEST(SdpListing, AttributesOfTheWrongTypeLeaveTheirSectionOut) {
    // Name as a number, class list of strings, protocol list as a number,
    // language list as a string, profile list as a uint8.
    const Bytes pdu = from_hex(
        "352c 0900000a00000001"
        "0901000a41424344"
        "090001 3503 250141"
        "090004 0a00000003"
        "090006 25026a61"
        "090009 0805");
    EXPECT_EQ(listing(pdu), (Lines{kRule, "<print_service_attr> Service Record Handle: 0x00000001"}));
}

}  // namespace
}  // namespace vgps::test

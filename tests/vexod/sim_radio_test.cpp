// The simulated radio's payloads: SDP records decoded back with libbluetooth,
// and the NMEA streams it replays or generates.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "nmea_feed.h"
#include "sdp_decode.h"
#include "sdp_records.h"
#include "support/temp_dir.h"

namespace vexod {
namespace {

TEST(SimSdpRecords, RecordsDecodeBackWithTheirNamesAndChannels) {
    auto bytes = build_attribute_lists({{"Serial Port", 1}, {"GPS Receiver", 2}, {"Control", 0}});
    std::vector<DecodedRecord> recs = decode_records(bytes);
    ASSERT_EQ(recs.size(), 3u);
    EXPECT_EQ(recs[0].name, "Serial Port");
    EXPECT_EQ(recs[0].channel, 1);
    EXPECT_EQ(recs[0].handle, 0x00010000u);
    EXPECT_EQ(recs[1].name, "GPS Receiver");
    EXPECT_EQ(recs[1].channel, 2);
    EXPECT_EQ(recs[2].name, "Control");
    EXPECT_EQ(recs[2].channel, 0);  // L2CAP only
}

TEST(SimSdpRecords, LongAnswersUseTheWiderSequenceHeader) {
    std::vector<Service> many(12, Service{"Serial Port Service", 3});
    auto bytes = build_attribute_lists(many);
    EXPECT_EQ(bytes[0], 0x36);  // sequence, 16-bit length
    EXPECT_EQ(decode_records(bytes).size(), 12u);
}

TEST(SimSdpRecords, NoServicesGiveAnEmptySequence) {
    EXPECT_EQ(build_attribute_lists({}), (std::vector<uint8_t>{0x35, 0}));
}

// Every sentence of `text` ends in CR LF and carries a correct checksum.
void expect_valid_sentences(const std::string& text, size_t expected_count) {
    size_t count = 0, pos = 0;
    while (pos < text.size()) {
        size_t end = text.find("\r\n", pos);
        ASSERT_NE(end, std::string::npos);
        std::string line = text.substr(pos, end - pos);
        pos = end + 2;
        ++count;
        ASSERT_EQ(line[0], '$');
        size_t star = line.find('*');
        ASSERT_EQ(star + 3, line.size()) << line;
        EXPECT_EQ(nmea_sentence(line.substr(1, star - 1)), line + "\r\n");
    }
    EXPECT_EQ(count, expected_count);
}

TEST(SimNmea, SentenceChecksum) {
    EXPECT_EQ(nmea_sentence("GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1"),
              "$GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1*39\r\n");
}

TEST(SimNmea, EpochsFollowTheFixTimeAndRestoreCrLf) {
    const std::string capture =
        "# header\n"
        "$GPGGA,120000.00,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\n"
        "$GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1*39\r\n"
        "$GPRMC,120000.00,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A\n"
        "\n"
        "$GPGGA,120001.00,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*46\n"
        "$GPVTG,054.7,T,034.4,M,005.5,N,010.2,K*48\n";
    std::vector<std::string> epochs = nmea_epochs(capture);
    ASSERT_EQ(epochs.size(), 2u);
    EXPECT_EQ(epochs[0].rfind("$GPGGA,120000.00", 0), 0u);
    EXPECT_NE(epochs[0].find("$GPRMC"), std::string::npos);
    EXPECT_EQ(epochs[1],
              "$GPGGA,120001.00,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*46\r\n"
              "$GPVTG,054.7,T,034.4,M,005.5,N,010.2,K*48\r\n");
}

TEST(SimNmea, RealCaptureSplitsIntoOneEpochPerFix) {
    std::string capture = vgps::test::read_file(std::string(VGPS_TEST_DATA_DIR) + "/nmea/bt-q818.log");
    ASSERT_FALSE(capture.empty());
    std::vector<std::string> epochs = nmea_epochs(capture);
    size_t gga = 0;
    for (size_t at = capture.find("GPGGA"); at != std::string::npos; at = capture.find("GPGGA", at + 1)) ++gga;
    EXPECT_GE(epochs.size(), gga - 1);
    EXPECT_LE(epochs.size(), gga + 1);
    for (const std::string& e : epochs) EXPECT_EQ(e.find('#'), std::string::npos);
}

TEST(SimNmea, GeneratorMovesOneSecondPerEpoch) {
    NmeaGenerator gen(-33.5, 151.25, 1315989005, 10.0, 90.0);  // 2011-09-14 08:30:05 UTC
    std::string first = gen.next_epoch();
    std::string second = gen.next_epoch();
    expect_valid_sentences(first, 7);
    expect_valid_sentences(second, 7);
    EXPECT_NE(first.find("$GPGGA,083005.00,3330.0000,S,15115.0000,E,1,"), std::string::npos) << first;
    EXPECT_NE(first.find(",140911,"), std::string::npos);
    EXPECT_NE(second.find("$GPGGA,083006.00,3330.0000,S,15115.0"), std::string::npos) << second;
    EXPECT_EQ(second.find("15115.0000,E"), std::string::npos);  // moved east
}

}  // namespace
}  // namespace vexod

// The simulated radio's payloads: SDP records decoded back with libbluetooth,
// and the NMEA streams it replays or generates.
#include <bluetooth/bluetooth.h>
#include <bluetooth/sdp.h>
#include <bluetooth/sdp_lib.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "nmea_feed.h"
#include "sdp_records.h"
#include "support/temp_dir.h"

namespace vgps::sim {
namespace {

struct Decoded {
    std::string name;
    int channel = -1;  // -1: no protocol descriptor list
    uint32_t handle = 0;
};

// Decodes the attribute lists the way the application does.
std::vector<Decoded> decode(const std::vector<uint8_t>& bytes) {
    std::vector<Decoded> out;
    uint8_t dtd = 0;
    int size = 0;
    int scanned = sdp_extract_seqtype(bytes.data(), static_cast<int>(bytes.size()), &dtd, &size);
    EXPECT_GT(scanned, 0);
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
        Decoded d;
        d.handle = rec->handle;
        if (sdp_data_t* name = sdp_data_get(rec, 0x0100)) d.name.assign(name->val.str, strnlen(name->val.str, name->unitSize));
        sdp_list_t* protos = nullptr;
        if (sdp_get_access_protos(rec, &protos) == 0) {
            d.channel = sdp_get_proto_port(protos, RFCOMM_UUID);
            sdp_list_foreach(protos, reinterpret_cast<sdp_list_func_t>(sdp_list_free), nullptr);
            sdp_list_free(protos, nullptr);
        }
        out.push_back(d);
        sdp_record_free(rec);
        p += used;
        left -= used;
    }
    return out;
}

TEST(SimSdpRecords, RecordsDecodeBackWithTheirNamesAndChannels) {
    auto bytes = build_attribute_lists({{"Serial Port", 1}, {"GPS Receiver", 2}, {"Control", 0}});
    std::vector<Decoded> recs = decode(bytes);
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
    std::vector<ServiceSpec> many(12, ServiceSpec{"Serial Port Service", 3});
    auto bytes = build_attribute_lists(many);
    EXPECT_EQ(bytes[0], SDP_SEQ16);
    EXPECT_EQ(decode(bytes).size(), 12u);
}

TEST(SimSdpRecords, NoServicesGiveAnEmptySequence) {
    EXPECT_EQ(build_attribute_lists({}), (std::vector<uint8_t>{SDP_SEQ8, 0}));
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
    std::string capture = test::read_file(std::string(VGPS_TEST_DATA_DIR) + "/nmea/bt-q818.log");
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
}  // namespace vgps::sim

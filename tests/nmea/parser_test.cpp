#include "nmea/parser.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "nmea/parse.h"
#include "nmea_support.h"

namespace vgps {
namespace {

using test::nmea_sentence;
using test::NmeaReports;

const std::string kRmc = nmea_sentence("GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W");
const std::string kGga = nmea_sentence("GPGGA,123520,4807.040,N,01131.002,E,1,08,0.9,545.4,M,46.9,M,,");

class NmeaParser : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(1, nmea_parser_init(&parser));
        nmea_zero_INFO(&info);
    }
    void TearDown() override { nmea_parser_destroy(&parser); }

    int parse(const std::string& bytes) {
        return nmea_parse(&parser, bytes.data(), static_cast<int>(bytes.size()), &info);
    }

    nmeaPARSER parser;
    nmeaINFO info;
};

TEST_F(NmeaParser, JoinsSplitSentencesAndKeepsThePartOfTheNext) {
    EXPECT_EQ(0, parse(kRmc.substr(0, 10)));
    EXPECT_EQ(10, parser.buff_use);
    EXPECT_EQ(1, parse(kRmc.substr(10) + kGga.substr(0, 30)));
    EXPECT_EQ(4807.038, info.lat);
    EXPECT_EQ(30, parser.buff_use);
    EXPECT_EQ(0, std::memcmp(parser.buffer, kGga.data(), 30));
    EXPECT_EQ(0, nmea_parse(&parser, nullptr, 0, &info));  // rescans, changes nothing
    EXPECT_EQ(30, parser.buff_use);
    EXPECT_EQ(1, parse(kGga.substr(30)));
    EXPECT_EQ(0, parser.buff_use);
    EXPECT_EQ(NMEA_GPRMC | NMEA_GPGGA, info.smask);
}

TEST_F(NmeaParser, SkipsNoiseWrongChecksumsAndOtherSentences) {
    NmeaReports reports;
    std::string wrong = kGga;
    wrong[wrong.size() - 3] ^= 1;
    const std::string stream = "\x07\xff" + kRmc + wrong + nmea_sentence("GNGGA,1,2") +
                               nmea_sentence("GPZDA,1") + kGga + kRmc;
    EXPECT_EQ(3, parse(stream));
    EXPECT_EQ((std::vector<std::string>{kRmc, kGga, kRmc}), reports.traces);
    EXPECT_TRUE(reports.errors.empty());
    EXPECT_EQ(19, info.utc.sec);  // applied in arrival order: the RMC came last
    EXPECT_EQ(0, parser.buff_use);
}

TEST_F(NmeaParser, LineFeedsAloneNeverCutASentence) {
    const std::string lf = nmea_sentence("GPGGA,123520,4807.040,N,01131.002,E,1,08,0.9,545.4,M,46.9,M,,", "\n");
    int held = 0;
    for (int i = 0; i < 40; ++i) {
        EXPECT_EQ(0, parse(lf));
        held += static_cast<int>(lf.size());
        if (held >= parser.buff_size) held = static_cast<int>(lf.size());  // cleared first
        ASSERT_EQ(held, parser.buff_use) << i;
    }
    EXPECT_EQ(0, info.smask);
}

TEST_F(NmeaParser, AStarWithoutLineEndStallsUntilTheBufferClears) {
    // Two sentences run together on one line, as a real receiver sent them.
    const std::string stalled = nmea_sentence("GPGSA,A,3,,,,,,,,,,,,,1,1,1", "") + kRmc;
    EXPECT_EQ(0, parse(stalled));
    int pushed = static_cast<int>(stalled.size());
    int applied = 0;
    while (pushed + static_cast<int>(kGga.size()) < parser.buff_size) {
        applied += parse(kGga);
        pushed += static_cast<int>(kGga.size());
    }
    EXPECT_EQ(0, applied);
    EXPECT_EQ(pushed, parser.buff_use);
    // The push that would fill the buffer drops everything held; it is then decoded.
    EXPECT_EQ(1, parse(kGga));
    EXPECT_EQ(0, parser.buff_use);
}

TEST_F(NmeaParser, AFullBlockDropsTheHeldBytes) {
    std::string block;
    while (block.size() + kGga.size() <= 1023) block += kGga;
    const int whole = static_cast<int>(block.size() / kGga.size());
    block.resize(1023, ' ');
    // One byte held: the 1023-byte block clears it first.
    EXPECT_EQ(0, parse("$"));
    EXPECT_EQ(1, parser.buff_use);
    EXPECT_EQ(whole, parse(block));
    // Nothing held: a 1023-byte block is kept whole.
    nmea_parser_buff_clear(&parser);
    EXPECT_EQ(whole, parse(block));
    EXPECT_EQ(1023 - whole * static_cast<int>(kGga.size()), parser.buff_use);
}

TEST_F(NmeaParser, InitialisingAgainReleasesBufferAndQueue) {
    // Queue packs without popping them, then start over: ASan's leak check
    // proves they are released.
    EXPECT_GT(nmea_parser_push(&parser, (kRmc + kGga + "$GP").data(),
                               static_cast<int>(kRmc.size() + kGga.size() + 3)),
              0);
    ASSERT_NE(nullptr, parser.top_node);
    ASSERT_EQ(1, nmea_parser_init(&parser));
    void* pack = &info;
    EXPECT_EQ(NMEA_NOPACK, nmea_parser_pop(&parser, &pack));
    EXPECT_EQ(&info, pack);  // an empty queue leaves the out-argument alone
    EXPECT_EQ(nullptr, parser.top_node);
    EXPECT_EQ(nullptr, parser.end_node);
    EXPECT_EQ(0, parser.buff_use);
    EXPECT_EQ(1, parse(kRmc));
}

TEST(NmeaParserInit, RaisesSmallBufferSizesTo256) {
    nmeaPROPERTY saved = *nmea_property();
    nmea_property()->parser_buff_size = 100;
    nmeaPARSER parser;
    ASSERT_EQ(1, nmea_parser_init(&parser));
    EXPECT_EQ(256, parser.buff_size);
    nmea_property()->parser_buff_size = 4096;
    ASSERT_EQ(1, nmea_parser_init(&parser));
    EXPECT_EQ(4096, parser.buff_size);
    *nmea_property() = saved;
    nmea_parser_destroy(&parser);
    EXPECT_EQ(nullptr, parser.buffer);
    nmea_parser_destroy(&parser);  // twice is harmless
}

TEST(NmeaAssertions, StopOnNullArgumentsNamingTheCondition) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    nmeaPARSER empty;
    nmeaINFO info{};
    EXPECT_DEATH(nmea_parser_init(nullptr), "Assertion failed: parser ");
    EXPECT_DEATH(nmea_parse(&empty, "$", 1, &info), "parser && parser->buffer");
    EXPECT_DEATH(nmea_parser_pop(&empty, nullptr), "parser && parser->buffer");
    EXPECT_DEATH(nmea_parser_buff_clear(nullptr), "parser && parser->buffer");
    EXPECT_DEATH(nmea_find_tail("$", 1, nullptr), "buff && res_crc");
    EXPECT_DEATH(nmea_pack_type(nullptr, 5), "buff");
    EXPECT_DEATH(nmea_parse_GPGGA("$", 1, nullptr), "buff && pack");
    EXPECT_DEATH(nmea_parse_GPVTG(nullptr, 1, reinterpret_cast<nmeaGPVTG*>(&info)), "buff && pack");
    EXPECT_DEATH(nmea_GPRMC2info(nullptr, &info), "pack && info");
    EXPECT_DEATH(nmea_GPGSV2info(reinterpret_cast<nmeaGPGSV*>(&info), nullptr), "pack && info");
}

// ---- Real receiver captures -------------------------------------------

// Feeds a capture line by line and returns the record after each line.
std::vector<nmeaINFO> feed_lines(const std::vector<std::string>& lines, std::vector<int>* packs) {
    const std::time_t clock = 0;
    nmea_time_set_clock(&clock);
    nmeaPARSER parser;
    nmeaINFO info;
    EXPECT_EQ(1, nmea_parser_init(&parser));
    nmea_zero_INFO(&info);
    nmea_time_set_clock(nullptr);
    std::vector<nmeaINFO> states;
    for (const std::string& line : lines) {
        packs->push_back(nmea_parse(&parser, line.data(), static_cast<int>(line.size()), &info));
        states.push_back(info);
    }
    nmea_parser_destroy(&parser);
    return states;
}

double json_number(const std::string& json, const std::string& key, bool* found) {
    const std::string pattern = "\"" + key + "\":";
    const size_t pos = json.find(pattern);
    *found = pos != std::string::npos;
    return *found ? std::strtod(json.c_str() + pos + pattern.size(), nullptr) : 0.0;
}

std::string json_text(const std::string& json, const std::string& key) {
    const std::string pattern = "\"" + key + "\":\"";
    const size_t pos = json.find(pattern);
    if (pos == std::string::npos) return "";
    const size_t start = pos + pattern.size();
    return json.substr(start, json.find('"', start) - start);
}

// The position report that the reference decoder printed right after each
// sentence it echoed, keyed by the sentence (without its line end).
std::map<std::string, std::string> reference_reports(const std::string& name) {
    const std::string chk =
        test::read_file(std::string(VGPS_TEST_DATA_DIR) + "/nmea/" + name + ".gpsd.chk");
    std::map<std::string, std::string> reports;
    std::string last_sentence;
    size_t pos = 0;
    while (pos < chk.size()) {
        size_t eol = chk.find('\n', pos);
        if (eol == std::string::npos) eol = chk.size();
        std::string line = chk.substr(pos, eol - pos);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        pos = eol + 1;
        if (line.rfind("$", 0) == 0) {
            last_sentence = line;
        } else if (line.rfind("{\"class\":\"TPV\"", 0) == 0 && !last_sentence.empty()) {
            reports.emplace(last_sentence, line);
            last_sentence.clear();
        }
    }
    return reports;
}

struct CaptureCase {
    const char* name;
    int rmc_compared;  // RMC sentences with a valid fix and a reference report
};

void PrintTo(const CaptureCase& c, std::ostream* os) { *os << c.name; }

class NmeaCapture : public ::testing::TestWithParam<CaptureCase> {};

// After each valid RMC the record holds the date, time, position, speed and
// track that the reference decoder reported for the same sentence.
TEST_P(NmeaCapture, RmcPositionsMatchTheReferenceDecoder) {
    const CaptureCase c = GetParam();
    const std::vector<std::string> lines = test::capture_lines(c.name);
    std::vector<int> packs;
    const std::vector<nmeaINFO> states = feed_lines(lines, &packs);
    const auto reference = reference_reports(c.name);

    int compared = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string sentence = lines[i].substr(0, lines[i].size() - 2);
        if (sentence.rfind("$GPRMC,", 0) != 0 || sentence.find(",A,") == std::string::npos)
            continue;
        ASSERT_EQ(1, packs[i]) << sentence;
        const auto it = reference.find(sentence);
        if (it == reference.end()) continue;
        const std::string& tpv = it->second;
        bool has_lat, has_lon, has_speed, has_track;
        const double lat = json_number(tpv, "lat", &has_lat);
        const double lon = json_number(tpv, "lon", &has_lon);
        const double speed = json_number(tpv, "speed", &has_speed);
        const double track = json_number(tpv, "track", &has_track);
        const std::string time = json_text(tpv, "time");
        if (!has_lat || !has_lon || time.empty()) continue;
        ++compared;

        const nmeaINFO& info = states[i];
        SCOPED_TRACE(sentence);
        EXPECT_NEAR(lat, nmea_ndeg2degree(info.lat), 1e-6);
        EXPECT_NEAR(lon, nmea_ndeg2degree(info.lon), 1e-6);
        char when[96];
        std::snprintf(when, sizeof when, "%04d-%02d-%02dT%02d:%02d:%02d", info.utc.year + 1900,
                      info.utc.mon + 1, info.utc.day, info.utc.hour, info.utc.min, info.utc.sec);
        EXPECT_EQ(time.substr(0, 19), when);
        if (has_speed) {
            EXPECT_NEAR(speed, info.speed / 3.6, 0.002);  // km/h to m/s
        }
        if (has_track) {
            EXPECT_NEAR(track, info.direction, 1e-4);
        }
        EXPECT_GE(info.fix, 2);
        EXPECT_TRUE(info.smask & NMEA_GPRMC);
    }
    EXPECT_EQ(c.rmc_compared, compared);
}

// Cutting the stream into blocks of any size below the buffer gives the same
// record as feeding it sentence by sentence.
TEST_P(NmeaCapture, BlockSizeDoesNotChangeTheResult) {
    const CaptureCase c = GetParam();
    const std::vector<std::string> lines = test::capture_lines(c.name);
    std::vector<int> packs;
    const nmeaINFO by_line = feed_lines(lines, &packs).back();
    int total = 0;
    for (int n : packs) total += n;
    const std::string stream = test::capture_stream(c.name);

    for (size_t block : {size_t{1}, size_t{7}, size_t{80}, size_t{500}}) {
        const std::time_t clock = 0;
        nmea_time_set_clock(&clock);
        nmeaPARSER parser;
        nmeaINFO info;
        ASSERT_EQ(1, nmea_parser_init(&parser));
        nmea_zero_INFO(&info);
        nmea_time_set_clock(nullptr);
        int applied = 0;
        for (size_t pos = 0; pos < stream.size(); pos += block) {
            const size_t n = std::min(block, stream.size() - pos);
            applied += nmea_parse(&parser, stream.data() + pos, static_cast<int>(n), &info);
        }
        nmea_parser_destroy(&parser);
        EXPECT_EQ(total, applied) << block;
        EXPECT_EQ(0, std::memcmp(&by_line, &info, sizeof info)) << block;
    }
}

INSTANTIATE_TEST_SUITE_P(Receivers, NmeaCapture,
                         ::testing::Values(CaptureCase{"bt-q818", 10}, CaptureCase{"bn-9015", 5},
                                           CaptureCase{"haicom-305N", 67},
                                           CaptureCase{"magellan-ec10", 21},
                                           CaptureCase{"garmin-10x", 9}, CaptureCase{"iTrek", 35},
                                           CaptureCase{"tr737A+", 6}),
                         [](const auto& param_info) {
                             std::string name = param_info.param.name;
                             for (char& ch : name)
                                 if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                             return name;
                         });

TEST(NmeaCaptures, OtherTalkersGiveNoFix) {
    // This receiver reports its fix under GN and GL talkers only; the GP
    // sentences come after the lock is lost.
    std::vector<int> packs;
    const auto states = feed_lines(test::capture_lines("ch-4711"), &packs);
    for (const nmeaINFO& info : states) {
        EXPECT_EQ(1, info.fix);
        EXPECT_EQ(0, info.sig);
    }
    EXPECT_EQ(NMEA_GPGGA | NMEA_GPGSA | NMEA_GPGSV | NMEA_GPRMC, states.back().smask);
}

}  // namespace
}  // namespace vgps

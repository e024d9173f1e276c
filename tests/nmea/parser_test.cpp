#include "nmea/parser.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <ostream>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "nmea/parse.h"
#include "nmea_support.h"

namespace vgps {
namespace {

using test::nmea_sentence;

const std::string kRmc = nmea_sentence("GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W");
const std::string kGga = nmea_sentence("GPGGA,123520,4807.040,N,01131.002,E,1,08,0.9,545.4,M,46.9,M,,");

class NmeaParser : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(1, nmea_parser_init(&parser)); }
    void TearDown() override { nmea_parser_destroy(&parser); }
    int parse(const std::string& bytes) {
        return nmea_parse(&parser, bytes.data(), static_cast<int>(bytes.size()), &info);
    }

    nmeaPARSER parser;
    nmeaINFO info = test::fresh_info();
};

TEST_F(NmeaParser, SkipsNoiseWrongChecksumsAndOtherSentences) {
    test::NmeaReports reports;
    std::string wrong = kGga;
    wrong[wrong.size() - 3] ^= 1;
    // Bytes above 0x7F enter the checksum sign-extended: one breaks it, two
    // cancel out.
    const std::string high1 = nmea_sentence("GPGGA,123519,,,,,,,,,,,,,\xE9"),
                      high2 = nmea_sentence("GPGGA,123519,,,,,,,,,,,,,\xE9\xE9");
    // A receiver's lower-case checksum.
    const std::string lower = "$GPRMC,205210.00,A,4405.556,N,12118.398,W,000.0,000.0,090605,0.0,E*4e\r\n";
    const std::string stream = "\x07\xff" + kRmc + wrong + nmea_sentence("GNGGA,1,2") +
                               nmea_sentence("GPZDA,1") + "$GPGGA,12,3" + kGga + high1 + high2 + lower;
    EXPECT_EQ(4, parse(stream));
    EXPECT_EQ((test::Strings{kRmc, kGga, high2, lower}), reports.traces);
    EXPECT_EQ(test::Strings{}, reports.errors);
    EXPECT_EQ(4405.556, info.lat);  // applied in arrival order: the RMC came last
    EXPECT_EQ(0, parser.buff_use);
}

// What a parser holds and has applied after some bytes of a stream.
struct FeedState {
    int applied;
    std::string held;
    nmeaINFO info;
};

bool operator==(const FeedState& a, const FeedState& b) {
    return a.applied == b.applied && a.held == b.held && std::memcmp(&a.info, &b.info, sizeof a.info) == 0;
}

std::ostream& operator<<(std::ostream& out, const FeedState& s) {
    return out << s.applied << " applied, " << s.held.size() << " bytes held";
}

// The stream fed one byte at a time: the state after each byte (index 0:
// before the first).
std::vector<FeedState> byte_by_byte(const std::string& stream) {
    nmeaPARSER parser;
    EXPECT_EQ(1, nmea_parser_init(&parser));
    FeedState state{0, "", test::fresh_info()};
    std::vector<FeedState> states{state};
    for (const char c : stream) {
        state.applied += nmea_parse(&parser, &c, 1, &state.info);
        state.held.assign(parser.buffer, static_cast<size_t>(parser.buff_use));
        states.push_back(state);
    }
    nmea_parser_destroy(&parser);
    return states;
}

// Feeds the stream in blocks of the given sizes (the last one cut to what
// is left) and checks after every block that the parser holds and has
// applied what a byte-at-a-time feed has after the same bytes.
void expect_blocks_as_bytes(const std::string& stream, const std::vector<FeedState>& bytewise,
                            const std::vector<size_t>& blocks) {
    nmeaPARSER parser;
    ASSERT_EQ(1, nmea_parser_init(&parser));
    FeedState state{0, "", test::fresh_info()};
    size_t pos = 0;
    for (size_t i = 0; pos < stream.size(); ++i) {
        const size_t n = std::min(blocks[i % blocks.size()], stream.size() - pos);
        state.applied += nmea_parse(&parser, stream.data() + pos, static_cast<int>(n), &state.info);
        state.held.assign(parser.buffer, static_cast<size_t>(parser.buff_use));
        pos += n;
        if (!(state == bytewise[pos])) {
            ADD_FAILURE() << "after " << pos << " bytes, in blocks: " << state << "; byte by byte: "
                          << bytewise[pos];
            break;
        }
    }
    nmea_parser_destroy(&parser);
}

// Without a CR LF nothing is decoded and the bytes pile up until the buffer
// is full; the next byte clears it, and the sentence the clear cuts leaves a
// tail that is skipped up to the next "$". Bytes held when a block arrives
// are kept: the stream cut into blocks gives what it gives byte by byte.
TEST(NmeaParserStalls, OnlyAFullBufferIsClearedWhateverTheBlocks) {
    const std::string lf = nmea_sentence("GPGGA,123520,4807.040,N,01131.002,E,1,08,0.9,545.4,M,46.9,M,,", "\n");
    std::string lf_only;
    for (int i = 0; i < 40; ++i) lf_only += lf;
    // Two sentences run together on one line, as a real receiver sent them.
    std::string stalled = nmea_sentence("GPGSA,A,3,,,,,,,,,,,,,1,1,1", "") + kRmc;
    while (stalled.size() + kGga.size() < NMEA_DEF_PARSEBUFF) stalled += kGga;
    // A "$", then 1023 bytes: the rest of its sentence and whole ones.
    std::string held = "$" + kGga.substr(1);
    int whole = 1;
    for (; held.size() + kGga.size() < NMEA_DEF_PARSEBUFF; ++whole) held += kGga;
    held.resize(NMEA_DEF_PARSEBUFF, ' ');
    const struct {
        const char* what;
        std::string stream;
        int applied;
        std::vector<std::vector<size_t>> cuttings;
    } cases[] = {
        {"line feeds alone", lf_only, 0, {{1}, {lf.size()}, {1023}, {5000}}},
        // The sentence that fills the buffer is lost, the next one decoded.
        {"a star without its line end", stalled + kGga + kGga, 1, {{1}, {1023}, {1024}}},
        {"held bytes and a block of 1022 to 3000", held + std::string(2000, ' '), whole,
         {{1, 1022}, {1, 1023}, {1, 1024}, {1, 3000}}},
        {"a full buffer ending no sentence", "$" + std::string(1022, 'x') + kGga, 1, {{1023, 1}, {1023, 1000}, {1024}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto bytewise = byte_by_byte(c.stream);
        EXPECT_EQ(c.applied, bytewise.back().applied);
        // Each comes to fill the buffer (the third by its padding): 1023 bytes.
        size_t most = 0;
        for (const FeedState& s : bytewise) most = std::max(most, s.held.size());
        EXPECT_EQ(NMEA_DEF_PARSEBUFF - 1, most);
        for (const auto& blocks : c.cuttings) expect_blocks_as_bytes(c.stream, bytewise, blocks);
    }
}

// Random streams of what a receiver's link carries, cut into random blocks:
// after every block the parser holds and has applied exactly what a feed of
// the same bytes one at a time has.
TEST(NmeaParserCuts, AnyCuttingGivesWhatAByteAtATimeFeedGives) {
    test::Strings sentences;
    for (const char* name : {"haicom-305N", "iTrek", "bn-9015"})
        for (const std::string& line : test::capture_lines(name)) sentences.push_back(line);
    std::mt19937 rng(20240613);
    auto below = [&rng](size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng); };

    int applied = 0, fulls = 0;
    for (int trial = 0; trial < 60; ++trial) {
        SCOPED_TRACE("trial " + std::to_string(trial));
        const std::string stream = test::faulty_stream(sentences, 6000, rng);
        const auto bytewise = byte_by_byte(stream);
        applied += bytewise.back().applied;
        for (const FeedState& b : bytewise) fulls += b.held.size() == NMEA_DEF_PARSEBUFF - 1 ? 1 : 0;
        const std::vector<std::vector<size_t>> cuttings = {
            {1023}, {1024}, {stream.size()}, {7, 1023, 1}, {1, 2000, 3, 1022}};
        for (const auto& blocks : cuttings) expect_blocks_as_bytes(stream, bytewise, blocks);
        std::vector<size_t> random_blocks;
        for (int i = 0; i < 50; ++i) random_blocks.push_back(1 + below(below(2) ? 64 : 3000));
        expect_blocks_as_bytes(stream, bytewise, random_blocks);
    }
    EXPECT_GT(applied, 60 * 40) << "the streams are mostly sentences";
    EXPECT_GT(fulls, 20) << "and fill the buffer now and then";
}

TEST_F(NmeaParser, InitialisingAgainReleasesBufferAndQueue) {
    // Queue packs without popping them, then start over: ASan's leak check
    // proves they are released.
    const std::string bytes = kRmc + kGga + "$GP";
    EXPECT_EQ(bytes.size() - 3, nmea_parser_push(&parser, bytes.data(), static_cast<int>(bytes.size())));
    ASSERT_EQ(1, nmea_parser_init(&parser));
    void* pack = &info;
    EXPECT_EQ(NMEA_NOPACK, nmea_parser_pop(&parser, &pack));
    EXPECT_EQ(&info, pack);  // an empty queue leaves the out-argument alone
    EXPECT_EQ(0, parser.buff_use);
}

// ---- Real receiver captures -------------------------------------------

// The record after each line, fed in turn to one parser.
std::vector<nmeaINFO> feed(const test::Strings& lines) {
    nmeaPARSER parser;
    EXPECT_EQ(1, nmea_parser_init(&parser));
    nmeaINFO info = test::fresh_info(0);
    std::vector<nmeaINFO> out;
    for (const std::string& line : lines) {
        nmea_parse(&parser, line.data(), static_cast<int>(line.size()), &info);
        out.push_back(info);
    }
    nmea_parser_destroy(&parser);
    return out;
}

// The number after "KEY": in a line of JSON, NaN when the key is absent.
double json_number(const std::string& json, const std::string& key) {
    const size_t pos = json.find("\"" + key + "\":");
    return pos == std::string::npos ? NAN : std::strtod(json.c_str() + pos + key.size() + 3, nullptr);
}

// After each valid RMC the record holds the date, time, position, speed and
// track that the reference decoder reported for the same sentence. (How the
// stream is cut into blocks changes nothing: NmeaParserCuts.)
TEST(NmeaCaptures, RmcPositionsMatchTheReferenceDecoder) {
    // The receivers, with the count of valid RMC sentences that have a report.
    const std::pair<std::string, int> captures[] = {
        {"bt-q818", 10}, {"bn-9015", 5}, {"haicom-305N", 67}, {"magellan-ec10", 21},
        {"garmin-10x", 9}, {"iTrek", 35}, {"tr737A+", 6}};
    for (const auto& [name, want_compared] : captures) {
        SCOPED_TRACE(name);
        // The reference decoder's position report right after each sentence it echoed.
        std::map<std::string, std::string> reference;
        std::string last;
        for (const std::string& line : test::lines_of(test::read_file(test::kNmeaData + name + ".gpsd.chk"))) {
            if (line.rfind("$", 0) == 0) last = line;
            if (line.rfind("{\"class\":\"TPV\"", 0) == 0 && !last.empty())
                reference.emplace(std::exchange(last, ""), line);
        }
        const test::Strings lines = test::capture_lines(name);
        const auto by_line = feed(lines);
        int compared = 0;
        for (size_t i = 0; i < lines.size(); ++i) {
            const std::string sentence = lines[i].substr(0, lines[i].size() - 2);
            if (sentence.rfind("$GPRMC,", 0) != 0 || sentence.find(",A,") == std::string::npos) continue;
            const std::string tpv = reference.count(sentence) ? reference[sentence] : "";
            const size_t time = tpv.find("\"time\":\"");
            const double lat = json_number(tpv, "lat"), lon = json_number(tpv, "lon");
            if (std::isnan(lat) || std::isnan(lon) || time == std::string::npos) continue;
            ++compared;
            SCOPED_TRACE(sentence);
            const nmeaINFO& info = by_line[i];
            EXPECT_NEAR(lat, nmea_ndeg2degree(info.lat), 1e-6);
            EXPECT_NEAR(lon, nmea_ndeg2degree(info.lon), 1e-6);
            char when[96];
            std::snprintf(when, sizeof when, "%04d-%02d-%02dT%02d:%02d:%02d", info.utc.year + 1900,
                          info.utc.mon + 1, info.utc.day, info.utc.hour, info.utc.min, info.utc.sec);
            EXPECT_EQ(tpv.substr(time + 8, 19), when);
            const double speed = json_number(tpv, "speed"), track = json_number(tpv, "track");
            if (!std::isnan(speed)) { EXPECT_NEAR(speed, info.speed / 3.6, 0.002); }  // km/h to m/s
            if (!std::isnan(track)) { EXPECT_NEAR(track, info.direction, 1e-4); }
        }
        EXPECT_EQ(want_compared, compared);
    }
}

TEST(NmeaCaptures, OtherTalkersGiveNoFix) {
    // This receiver reports its fix under GN and GL talkers only; the GP
    // sentences come after the lock is lost.
    const auto fed = feed(test::capture_lines("ch-4711"));
    for (const nmeaINFO& info : fed) EXPECT_EQ(std::make_pair(0, 1), std::make_pair(info.sig, info.fix));
    EXPECT_EQ(NMEA_GPGGA | NMEA_GPGSA | NMEA_GPGSV | NMEA_GPRMC, fed.back().smask);
}

}  // namespace
}  // namespace vgps

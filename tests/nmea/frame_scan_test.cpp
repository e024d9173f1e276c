#include "nmea/frame_scan.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "nmea/parser.h"
#include "nmea_support.h"

namespace vgps {
namespace {

// Every frame as "kind length head".
struct FrameLog : NmeaFrameSink {
    std::vector<std::string> frames;
    std::vector<std::string> checked;  // Checked frames of a decoded type: their head

    void frame(const NmeaFrame& f) override {
        static const char* const kinds[] = {"checked", "bad-checksum", "skipped", "dropped"};
        const std::string head(f.head, static_cast<size_t>(f.head_length));
        frames.push_back(std::string(kinds[static_cast<int>(f.kind)]) + " " + std::to_string(f.length) +
                         (head.empty() ? "" : " " + head));
        if (f.kind == NmeaFrameKind::Checked && f.pack_type != NMEA_NOPACK) checked.push_back(head);
    }
};

// Real captures with wrong bytes, cut sentences, noise, other talkers and
// stalls, in random blocks through the parser and the scanner side by side:
// after every block the scanner holds what the parser holds, and the checked
// frames of a decoded type are the sentences the parser gave its decoders.
TEST(NmeaFrameScan, FollowsTheParserThroughAnyStream) {
    test::Strings sentences;
    for (const char* name : {"ch-4711", "bn-9015", "magellan-ec10", "gp-320fw-2019-04-07-coldboot"})
        for (const std::string& line : test::capture_lines(name)) sentences.push_back(line);
    std::mt19937 rng(17);
    auto below = [&rng](size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng); };

    size_t traced_total = 0, dropped_total = 0;
    for (int trial = 0; trial < 40; ++trial) {
        SCOPED_TRACE("trial " + std::to_string(trial));
        const std::string stream = test::faulty_stream(sentences, 8000, rng);

        test::NmeaReports reports;  // the decoders trace every sentence they are given
        nmeaPARSER parser;
        ASSERT_EQ(1, nmea_parser_init(&parser));
        nmeaINFO info = test::fresh_info();
        NmeaFrameScanner scanner(parser.buff_size);
        FrameLog log;
        for (size_t pos = 0; pos < stream.size();) {
            const size_t n = std::min(stream.size() - pos, 1 + below(below(3) ? 80 : 2500));
            nmea_parse(&parser, stream.data() + pos, static_cast<int>(n), &info);
            scanner.scan(stream.data() + pos, static_cast<int>(n), &log);
            pos += n;
            ASSERT_EQ(scanner.held(), parser.buff_use) << "after " << pos << " bytes";
        }
        nmea_parser_destroy(&parser);
        std::vector<std::string> traced;
        for (const std::string& t : reports.traces) traced.push_back(t.substr(0, kNmeaFrameHead));
        ASSERT_EQ(log.checked, traced);
        traced_total += traced.size();
        for (const std::string& f : log.frames) dropped_total += f.rfind("dropped", 0) == 0 ? 1 : 0;
    }
    EXPECT_GT(traced_total, 40u * 30);
    EXPECT_GT(dropped_total, 10u) << "the buffer filled now and then";
}

}  // namespace
}  // namespace vgps

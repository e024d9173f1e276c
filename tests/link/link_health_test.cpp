// The data link's health record and its verdict, fed as the data link feeds
// them (each block through the parser, then to the record) with real
// captures, one epoch a second on a clock of the test's own.
#include "link/link_health.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "nmea/nmea_support.h"
#include "nmea/parser.h"

namespace vgps {
namespace {

using namespace std::chrono_literals;
using Clock = LinkHealth::Clock;

// The epochs of a capture as a receiver sends them: a new one wherever a
// GGA or RMC carries another time; "#" lines dropped, CR LF restored.
std::vector<std::string> epochs_of(const std::string& capture) {
    std::vector<std::string> epochs;
    std::string time;
    for (const std::string& line : test::capture_lines(capture)) {
        const std::string type = line.size() > 6 ? line.substr(3, 3) : "";
        if (type == "GGA" || type == "RMC") {
            const std::string t = line.substr(7, line.find(',', 7) - 7);
            if (t != time) {
                epochs.emplace_back();
                time = t;
            }
        }
        if (epochs.empty()) epochs.emplace_back();
        epochs.back() += line;
    }
    return epochs;
}

// A link as the data link runs it: one parser and record, the health beside
// them, a clock that the test moves.
class Link {
public:
    Link() {
        EXPECT_EQ(1, nmea_parser_init(&parser_));
        health.reset(now, parser_.buff_size);
    }
    ~Link() { nmea_parser_destroy(&parser_); }

    // One block, read now.
    void read(const std::string& block) {
        const int applied = nmea_parse(&parser_, block.data(), static_cast<int>(block.size()), &info);
        health.blockRead(block.data(), static_cast<int>(block.size()), applied, now);
    }
    // Epochs one second apart, each in blocks of at most 1023 bytes, the
    // first half a second from now.
    void play(const std::vector<std::string>& epochs) {
        for (const std::string& epoch : epochs) {
            now += 500ms;
            for (size_t pos = 0; pos < epoch.size(); pos += 1023) read(epoch.substr(pos, 1023));
            now += 500ms;
        }
    }
    LinkHealthReport report() const { return health.report(now); }
    std::string verdict() const { return link_verdict(report(), info.fix); }

    Clock::time_point now = Clock::time_point{} + 1000h;
    nmeaINFO info = test::fresh_info();
    LinkHealth health;

private:
    nmeaPARSER parser_;
};

std::vector<std::string> first(const std::vector<std::string>& epochs, size_t n) {
    return {epochs.begin(), epochs.begin() + static_cast<ptrdiff_t>(std::min(n, epochs.size()))};
}

TEST(LinkHealth, VerdictsOnRealReceivers) {
    // A Bluetooth receiver with a 3D fix throughout.
    {
        Link link;
        link.play(epochs_of("bt-q818"));
        EXPECT_EQ(link.verdict(), "receiving GP sentences, 3D fix");
        const LinkHealthReport r = link.report();
        EXPECT_EQ(r.sentences, 60u);
        EXPECT_EQ(r.applied, 60u);
        EXPECT_EQ(r.badChecksums + r.skippedSentences + r.clears + r.refused, 0u);
        EXPECT_EQ(link_skipped_text(r), "");
        EXPECT_DOUBLE_EQ(r.sentencesPerSecond, 6.0);
        EXPECT_DOUBLE_EQ(r.appliedPerSecond, 6.0);
        ASSERT_TRUE(r.sinceByteSeconds.has_value());
        EXPECT_DOUBLE_EQ(*r.sinceByteSeconds, 0.5);
        // Then it falls silent.
        link.now += 4200ms;
        EXPECT_EQ(link.verdict(), "no data for 4 s");
    }
    // A GPS/GLONASS receiver whose fix comes under GN and GL only: the
    // GPGSV sentences are applied, but no position; then it loses lock and
    // speaks GP without a fix.
    {
        Link link;
        const std::vector<std::string> epochs = epochs_of("ch-4711");
        link.play(first(epochs, 7));
        EXPECT_EQ(link.verdict(), "receiving GN and GL sentences: this build decodes GP only");
        EXPECT_EQ(link.info.fix, 1);
        const LinkHealthReport r = link.report();
        EXPECT_EQ(link_skipped_text(r), "GNGSA 1.6/s, PORZD 1/s, GNGGA 0.8/s, GNRMC 0.8/s, GLGSV 0.4/s, GLGGA 0.2/s, "
                                        "GLGSA 0.2/s, GLRMC 0.2/s");
        EXPECT_EQ(r.applied, 4u) << "the GPGSV sentences";
        EXPECT_EQ(r.skippedSentences, 36u);
        EXPECT_EQ(link.info.satinfo.inview, 14);
        link.play({epochs.begin() + 7, epochs.end()});
        EXPECT_EQ(link.verdict(), "receiving GP sentences, no fix");
        EXPECT_EQ(link_skipped_text(link.report()), "PORZD 1/s");
    }
    // A receiver after a cold boot: wrong checksums, sentences cut short or
    // run together (a "*" without its line end stalls the scan until the
    // buffer fills), NUL bytes; then it settles.
    {
        Link link;
        const std::vector<std::string> epochs = epochs_of("gp-320fw-2019-04-07-coldboot");
        link.play(first(epochs, 17));
        EXPECT_EQ(link.verdict(), "checksum errors: 52%");
        const LinkHealthReport r = link.report();
        EXPECT_EQ(r.badChecksums, 24u);
        EXPECT_EQ(r.clears, 1u);
        EXPECT_EQ(r.droppedBytes, 1023u);
        EXPECT_EQ(r.skippedBytes, 241u);
        link.play({epochs.begin() + 17, epochs.end()});
        EXPECT_EQ(link.verdict(), "receiving GP sentences, no fix");
    }
    // Line ends of LF alone: no sentence is ever cut, the buffer fills and
    // is cleared over and over.
    {
        Link link;
        std::vector<std::string> epochs = epochs_of("bn-9015");
        for (std::string& e : epochs)
            for (size_t at; (at = e.find("\r\n")) != std::string::npos;) e.erase(at, 1);
        link.play(epochs);
        EXPECT_EQ(link.verdict(), "receiving data but no NMEA sentences");
        EXPECT_GT(link.report().clears, 2u);
    }
}

TEST(LinkHealth, VerdictsOnEveryOtherRule) {
    using test::nmea_sentence;
    const std::string gga = nmea_sentence("GPGGA,123520,4807.040,N,01131.002,E,1,08,0.9,545.4,M,46.9,M,,");
    struct Case {
        std::vector<std::string> epochs;
        std::string verdict;
    };
    std::string wrong = gga;
    wrong[wrong.size() - 3] = wrong[wrong.size() - 3] == '0' ? '1' : '0';
    const std::vector<Case> cases = {
        {{}, "waiting for data"},
        {{"$GPGGA,1235"}, "waiting for the first sentence"},
        {{wrong, wrong}, "checksum errors: 100%"},
        {{nmea_sentence("GPZDA,123520.00,15,09,2011,,") + nmea_sentence("PGRME,15.0,M,45.0,M,25.0,M")},
         "receiving only sentences this build does not decode: GPZDA, PGRME"},
        {{nmea_sentence("GPGSV,1,1,01,04,77,200,45")}, "receiving GP sentences without a position (no GGA or RMC)"},
        // Checked, but with an empty time field: the decoder refuses it.
        {{nmea_sentence("GPGGA,,4807.040,N,01131.002,E,1,08,0.9,545.4,M,46.9,M,,")}, "GP sentences refused by the decoder"},
        {{gga + gga + gga + gga + gga + gga + gga + gga + wrong}, "checksum errors: 11%"},
        {{gga + gga + gga + gga + gga + gga + gga + gga + gga + gga + wrong}, "receiving GP sentences, no fix"},
        // GN positions beside GP satellites, and a few wrong checksums: the
        // talker comes first.
        {{nmea_sentence("GNGGA,123520,4807.040,N,01131.002,E,1,08,0.9,545.4,M,46.9,M,,") +
          nmea_sentence("GPGSV,1,1,01,04,77,200,45") + wrong},
         "receiving GN sentences: this build decodes GP only"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.verdict);
        Link link;
        link.play(c.epochs);
        EXPECT_EQ(link.verdict(), c.verdict);
    }
    // Nothing ever: after three seconds it says so, counting on.
    Link silent;
    silent.now += 3900ms;
    EXPECT_EQ(silent.verdict(), "no data for 3 s");
    silent.now += 60s;
    EXPECT_EQ(silent.verdict(), "no data for 63 s");
    // A GP position applied: the fix decides.
    Link fixed;
    fixed.play({nmea_sentence("GPGSA,A,2,04,05,,,,,,,,,,,2.5,1.3,2.1") + gga});
    EXPECT_EQ(fixed.verdict(), "receiving GP sentences, 2D fix");
}

TEST(LinkHealth, RatesComeFromTheLastWholeSecondsAndKindsFromFixedSlots) {
    using test::nmea_sentence;
    Link link;
    // 16 proprietary kinds, two GNRMC and one PXXX00 a second for 8
    // seconds: 12 kinds are told apart, the rest count as "other".
    for (int second = 0; second < 8; ++second) {
        std::string block = nmea_sentence("GNRMC,,V,,,,,,,,,") + nmea_sentence("GNRMC,,V,,,,,,,,,");
        for (int k = 0; k < 16; ++k) {
            char body[32];
            std::snprintf(body, sizeof body, "PX%04d,1", k);
            block += nmea_sentence(body);
        }
        link.play({block});
    }
    LinkHealthReport r = link.report();
    ASSERT_EQ(r.skippedKinds, kLinkHealthAddressSlots + 1);
    EXPECT_STREQ(r.skipped[0].address, "other");
    EXPECT_EQ(r.skipped[0].recent, 5u * 5);  // five kinds, in the window's last five seconds
    EXPECT_DOUBLE_EQ(r.skipped[0].perSecond, 5.0);
    EXPECT_STREQ(r.skipped[1].address, "GNRMC");
    EXPECT_DOUBLE_EQ(r.skipped[1].perSecond, 2.0);
    EXPECT_EQ(r.skipped[1].total, 16u);
    EXPECT_EQ(r.skippedSentences, 8u * 18);
    EXPECT_EQ(link_skipped_text(r).substr(0, 25), "other 5/s, GNRMC 2/s, PX0");
    // Rates with one decimal at most.
    EXPECT_EQ(link_rate_text(0.25) + " " + link_rate_text(412.46) + " " + link_rate_text(0.04), "0.2 412.5 0");
    // The first second counts what came so far; ten silent seconds later
    // the rates are 0 and nothing skipped is recent.
    Link young;
    young.now += 200ms;
    young.read(nmea_sentence("GNRMC,,V,,,,,,,,,"));
    EXPECT_EQ(link_skipped_text(young.report()), "GNRMC 1/s");
    link.now += 10s;
    r = link.report();
    EXPECT_EQ(r.bytesPerSecond, 0.0);
    EXPECT_EQ(r.skippedKinds, 0);
    EXPECT_EQ(link.verdict(), "no data for 10 s");
    // A kind that went quiet gives its slot to a new one.
    link.play({nmea_sentence("PNEW,1")});
    r = link.report();
    ASSERT_EQ(r.skippedKinds, 1);
    EXPECT_STREQ(r.skipped[0].address, "PNEW");
}

}  // namespace
}  // namespace vgps

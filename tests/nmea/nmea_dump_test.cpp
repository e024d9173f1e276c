// nmea-dump run as a separate process on real files, as people and other
// checks run it.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>

#include "nmea_support.h"

namespace vgps {
namespace {

using test::nmea_sentence;

struct DumpRun {
    int status;
    test::Strings out;
    std::string err;
};

std::string quote(const std::string& s) { return "'" + s + "'"; }

DumpRun run_dump(const test::TempDir& dir, const std::string& args) {
    const std::string out = dir.file("out"), err = dir.file("err");
    const int raw = std::system((std::string(NMEA_DUMP_BINARY) + " " + args +
                                 " >" + quote(out) + " 2>" + quote(err)).c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, test::lines_of(test::read_file(out)),
            test::read_file(err)};
}

TEST(NmeaDump, PrintsTheWholeRecordAfterEachBlock) {
    test::TempDir dir;
    test::write_file(dir.file("in.nmea"),
                     nmea_sentence("GPGSV,1,1,01,07,10,100,40") +
                         nmea_sentence("GPGSA,A,3,07,,,,,,,,,,,,2.5,1.25,0.1") +
                         nmea_sentence("GPGGA,123519.25,4807.038,N,,,1,08,0.9,-12.5,M,46.9,M,,") +
                         nmea_sentence("GPVTG,nan,T,-inf,M,010.0,N,1e-7,K"));
    std::string sats = "{\"id\":7,\"in_use\":1,\"elv\":10,\"azimuth\":100,\"sig\":40}";
    for (int i = 1; i < 12; ++i) sats += ",{\"id\":0,\"in_use\":0,\"elv\":0,\"azimuth\":0,\"sig\":0}";

    // 1291593600 is 2010-12-06 00:00:00 UTC.
    const DumpRun run = run_dump(dir, "--clock 1291593600 --block 4096 " + quote(dir.file("in.nmea")));
    EXPECT_EQ(0, run.status) << run.err;
    EXPECT_EQ(test::Strings{
                  "{\"smask\":23,\"utc\":{\"year\":110,\"mon\":11,\"day\":6,\"hour\":12,\"min\":35,"
                  "\"sec\":19,\"hsec\":25},\"sig\":1,\"fix\":3,\"PDOP\":2.5,\"HDOP\":0.9,\"VDOP\":0.1,"
                  "\"lat\":4807.038,\"lon\":-0,\"elv\":-12.5,\"speed\":1e-07,\"direction\":NaN,"
                  "\"declination\":-Infinity,\"satinfo\":{\"inuse\":1,\"inview\":1,\"sat\":[" +
                  sats + "]}}"},
              run.out);
    EXPECT_EQ("", run.err);
}

TEST(NmeaDump, ReadsStdinInBlocksAndSummarises) {
    test::TempDir dir;
    std::string capture;
    for (const std::string& line : test::capture_lines("bt-q818")) capture += line;
    test::write_file(dir.file("q818.nmea"), capture);
    const size_t blocks = (capture.size() + 99) / 100;

    DumpRun run = run_dump(dir, "--clock=0 --block=100 - <" + quote(dir.file("q818.nmea")));
    EXPECT_EQ(0, run.status);
    ASSERT_EQ(blocks, run.out.size());
    EXPECT_NE(std::string::npos, run.out.back().find("\"lat\":3401.9765,\"lon\":-11744.8274"));

    run = run_dump(dir, "--summary --block 100 " + quote(dir.file("q818.nmea")));
    EXPECT_EQ(test::Strings{"{\"bytes\":" + std::to_string(capture.size()) + ",\"blocks\":" +
                            std::to_string(blocks) + ",\"packs\":60}"},
              run.out);
}

TEST(NmeaDump, TheBlockSizeChangesNoRecord) {
    // A capture of 20 KB read in 1023-byte blocks, as the data link reads:
    // the sentences split over two blocks count as well.
    test::TempDir dir;
    std::string capture;
    for (const std::string& line : test::capture_lines("haicom-305N")) capture += line;
    test::write_file(dir.file("in.nmea"), capture);
    auto dump = [&](const std::string& options) { return run_dump(dir, options + " " + quote(dir.file("in.nmea"))); };
    // The packs applied, from the summary.
    auto packs = [&](const char* block) {
        const std::string summary = dump(std::string("--summary --block ") + block).out.at(0);
        return summary.substr(summary.find("\"packs\""));
    };
    const DumpRun bytewise = dump("--clock 0 --block 1");
    ASSERT_EQ(0, bytewise.status) << bytewise.err;
    ASSERT_EQ(capture.size(), bytewise.out.size());
    EXPECT_EQ("\"packs\":252}", packs("1"));  // 73 VTG of an older form are refused
    for (const char* block : {"1023", "1024", "100000"}) {
        SCOPED_TRACE(block);
        const DumpRun run = dump(std::string("--clock 0 --block ") + block);
        EXPECT_EQ(0, run.status);
        ASSERT_FALSE(run.out.empty());
        EXPECT_EQ(bytewise.out.back(), run.out.back());
        EXPECT_EQ(packs("1"), packs(block));
    }
}

TEST(NmeaDump, ReportsErrorsAndTracesOnRequest) {
    test::TempDir dir;
    test::write_file(dir.file("bad.nmea"), nmea_sentence("GPGGA,1,2"));
    const DumpRun run = run_dump(dir, "--errors --summary " + quote(dir.file("bad.nmea")));
    EXPECT_EQ(0, run.status);
    EXPECT_EQ("trace: $GPGGA,1,2*55\nerror: GPGGA parse error!\n", run.err);
}

TEST(NmeaDump, AWriteThatFailsIsAnErrorNotAShortOutput) {
    // The output, the summary, or the error lines meet a full disk.
    test::TempDir dir;
    test::write_file(dir.file("in.nmea"), nmea_sentence("GPGGA,1,2") + nmea_sentence("GPGSV,1,1,01,07,10,100,40"));
    const std::string in = quote(dir.file("in.nmea"));
    auto status_of = [](const std::string& command) {
        const int raw = std::system((std::string(NMEA_DUMP_BINARY) + " " + command).c_str());
        return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    };
    for (const std::string& args : {in, "--summary " + in, "--block 1 " + in}) {
        EXPECT_EQ(2, status_of(args + " >/dev/full 2>" + quote(dir.file("err")))) << args;
        EXPECT_EQ("nmea-dump: cannot write the output: No space left on device\n", test::read_file(dir.file("err")))
            << args;
    }
    EXPECT_EQ(2, status_of("--errors --summary " + in + " >/dev/null 2>/dev/full"));
}

TEST(NmeaDump, RefusesBadOptionsAndMissingFiles) {
    test::TempDir dir;
    DumpRun run = run_dump(dir, quote(dir.file("missing.nmea")));
    EXPECT_EQ(2, run.status);
    EXPECT_NE(std::string::npos, run.err.find("missing.nmea"));
    EXPECT_TRUE(run.out.empty());

    for (const char* args : {"--block 0", "--block x", "--clock", "--frobnicate", "-x", "a b"}) {
        run = run_dump(dir, args);
        EXPECT_EQ(2, run.status) << args;
        EXPECT_NE(std::string::npos, run.err.find("usage: nmea-dump")) << args;
    }
}

}  // namespace
}  // namespace vgps

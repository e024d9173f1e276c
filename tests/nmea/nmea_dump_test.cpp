// nmea-dump run as a separate process on real files, as people and other
// checks run it.
#include <gtest/gtest.h>

#include <string>

#include "nmea_support.h"
#include "support/process.h"

namespace vgps {
namespace {

using test::nmea_sentence;
using test::shell_quote;

test::ShellRun run_dump(const std::string& args) { return test::run_shell(std::string(NMEA_DUMP_BINARY) + " " + args); }

TEST(NmeaDump, PrintsTheWholeRecordAfterEachBlockAndErrorsOnRequest) {
    test::TempDir dir;
    test::write_file(dir.file("in.nmea"),
                     nmea_sentence("GPGSV,1,1,01,07,10,100,40") +
                         nmea_sentence("GPGSA,A,3,07,,,,,,,,,,,,2.5,1.25,0.1") +
                         nmea_sentence("GPGGA,123519.25,4807.038,N,,,1,08,0.9,-12.5,M,46.9,M,,") +
                         nmea_sentence("GPVTG,nan,T,-inf,M,010.0,N,1e-7,K"));
    std::string sats = "{\"id\":7,\"in_use\":1,\"elv\":10,\"azimuth\":100,\"sig\":40}";
    for (int i = 1; i < 12; ++i) sats += ",{\"id\":0,\"in_use\":0,\"elv\":0,\"azimuth\":0,\"sig\":0}";

    // 1291593600 is 2010-12-06 00:00:00 UTC.
    test::ShellRun run = run_dump("--clock 1291593600 --block 4096 " + shell_quote(dir.file("in.nmea")));
    EXPECT_EQ(0, run.status) << run.err;
    EXPECT_EQ(test::Strings{
                  "{\"smask\":23,\"utc\":{\"year\":110,\"mon\":11,\"day\":6,\"hour\":12,\"min\":35,"
                  "\"sec\":19,\"hsec\":25},\"sig\":1,\"fix\":3,\"PDOP\":2.5,\"HDOP\":0.9,\"VDOP\":0.1,"
                  "\"lat\":4807.038,\"lon\":-0,\"elv\":-12.5,\"speed\":1e-07,\"direction\":NaN,"
                  "\"declination\":-Infinity,\"satinfo\":{\"inuse\":1,\"inview\":1,\"sat\":[" +
                  sats + "]}}"},
              run.out);
    EXPECT_EQ("", run.err);

    test::write_file(dir.file("bad.nmea"), nmea_sentence("GPGGA,1,2"));
    run = run_dump("--errors --summary " + shell_quote(dir.file("bad.nmea")));
    EXPECT_EQ(0, run.status);
    EXPECT_EQ("trace: $GPGGA,1,2*55\nerror: GPGGA parse error!\n", run.err);
}

TEST(NmeaDump, ReadsAFileOrStdinAndTheBlockSizeChangesNoRecord) {
    // A capture of 20 KB read in 1023-byte blocks, as the data link reads:
    // the sentences split over two blocks count as well.
    test::TempDir dir;
    std::string capture;
    for (const std::string& line : test::capture_lines("haicom-305N")) capture += line;
    test::write_file(dir.file("in.nmea"), capture);
    const std::string file = shell_quote(dir.file("in.nmea"));
    const test::ShellRun bytewise = run_dump("--clock=0 --block=1 - <" + file);
    ASSERT_EQ(0, bytewise.status) << bytewise.err;
    ASSERT_EQ(capture.size(), bytewise.out.size());
    // 1023 is the default; 73 VTG sentences of an older form are refused.
    for (const size_t block : {1, 1023, 1024, 100000}) {
        SCOPED_TRACE(block);
        const std::string options = (block == 1023 ? "" : "--block " + std::to_string(block) + " ") + file;
        const test::ShellRun run = run_dump("--clock 0 " + options);
        ASSERT_EQ((capture.size() + block - 1) / block, run.out.size());
        EXPECT_EQ(bytewise.out.back(), run.out.back());
        EXPECT_EQ(test::Strings{"{\"bytes\":" + std::to_string(capture.size()) + ",\"blocks\":" +
                                std::to_string(run.out.size()) + ",\"packs\":252}"},
                  run_dump("--summary " + options).out);
    }
}

TEST(NmeaDump, AWriteThatFailsIsAnErrorNotAShortOutput) {
    // The output, the summary, or the error lines meet a full disk.
    test::TempDir dir;
    test::write_file(dir.file("in.nmea"), nmea_sentence("GPGGA,1,2") + nmea_sentence("GPGSV,1,1,01,07,10,100,40"));
    const std::string in = shell_quote(dir.file("in.nmea"));
    for (const std::string& args : {in, "--summary " + in, "--block 1 " + in}) {
        const test::ShellRun run = run_dump(args + " >/dev/full");
        EXPECT_EQ(2, run.status) << args;
        EXPECT_EQ("nmea-dump: cannot write the output: No space left on device\n", run.err) << args;
    }
    EXPECT_EQ(2, run_dump("--errors --summary " + in + " >/dev/null 2>/dev/full").status);
}

TEST(NmeaDump, RefusesBadOptionsAndMissingFiles) {
    test::TempDir dir;
    test::ShellRun run = run_dump(shell_quote(dir.file("missing.nmea")));
    EXPECT_EQ(2, run.status);
    EXPECT_NE(std::string::npos, run.err.find("missing.nmea"));
    EXPECT_TRUE(run.out.empty());

    for (const char* args : {"--block 0", "--block x", "--clock", "--frobnicate", "-x", "a b"}) {
        run = run_dump(args);
        EXPECT_EQ(2, run.status) << args;
        EXPECT_NE(std::string::npos, run.err.find("usage: nmea-dump")) << args;
    }
}

}  // namespace
}  // namespace vgps

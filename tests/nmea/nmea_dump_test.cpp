// nmea-dump run as a separate process on real files, as people and other
// checks run it.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "nmea_support.h"
#include "support/temp_dir.h"

namespace vgps {
namespace {

using test::nmea_sentence;

struct DumpRun {
    int status;
    std::vector<std::string> out;
    std::string err;
};

std::string quote(const std::string& s) { return "'" + s + "'"; }

DumpRun run_dump(const test::TempDir& dir, const std::string& args) {
    const std::string out = dir.file("out"), err = dir.file("err");
    const std::string command = std::string(VGPS_BINARY_DIR) + "/tools/nmea-dump/nmea-dump " +
                                args + " >" + quote(out) + " 2>" + quote(err);
    const int raw = std::system(command.c_str());
    DumpRun run{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, {}, test::read_file(err)};
    const std::string text = test::read_file(out);
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t eol = text.find('\n', pos);
        run.out.push_back(text.substr(pos, eol - pos));
        pos = eol == std::string::npos ? text.size() : eol + 1;
    }
    return run;
}

std::string sats(int filled) {
    std::string out;
    for (int i = 0; i < 12; ++i) {
        if (i) out += ',';
        if (i < filled) {
            out += "{\"id\":" + std::to_string(i + 1) + ",\"in_use\":" + (i < 2 ? "1" : "0") +
                   ",\"elv\":" + std::to_string(10 * (i + 1)) + ",\"azimuth\":" +
                   std::to_string(100 + i) + ",\"sig\":" + std::to_string(40 + i) + "}";
        } else {
            out += "{\"id\":0,\"in_use\":0,\"elv\":0,\"azimuth\":0,\"sig\":0}";
        }
    }
    return out;
}

TEST(NmeaDump, PrintsTheWholeRecordAfterEachBlock) {
    test::TempDir dir;
    const std::string input =
        nmea_sentence("GPGSV,1,1,03,01,10,100,40,02,20,101,41,03,30,102,42") +
        nmea_sentence("GPGSA,A,3,01,02,,,,,,,,,,,2.5,1.25,0.1") +
        nmea_sentence("GPGGA,123519.25,4807.038,N,,,1,08,0.9,-12.5,M,46.9,M,,") +
        nmea_sentence("GPVTG,054.7,T,034.4,M,010.0,N,1e-7,K");
    test::write_file(dir.file("in.nmea"), input);

    // 1291593600 is 2010-12-06 00:00:00 UTC.
    const DumpRun run = run_dump(dir, "--clock 1291593600 --block 4096 " + quote(dir.file("in.nmea")));
    EXPECT_EQ(0, run.status) << run.err;
    ASSERT_EQ(1u, run.out.size());
    EXPECT_EQ("{\"smask\":23,\"utc\":{\"year\":110,\"mon\":11,\"day\":6,\"hour\":12,\"min\":35,"
              "\"sec\":19,\"hsec\":25},\"sig\":1,\"fix\":3,\"PDOP\":2.5,\"HDOP\":0.9,\"VDOP\":0.1,"
              "\"lat\":4807.038,\"lon\":-0,\"elv\":-12.5,\"speed\":1e-07,\"direction\":54.7,"
              "\"declination\":34.4,\"satinfo\":{\"inuse\":2,\"inview\":3,\"sat\":[" +
                  sats(3) + "]}}",
              run.out[0]);
    EXPECT_EQ("", run.err);
}

TEST(NmeaDump, ReadsStdinInBlocksAndSummarises) {
    test::TempDir dir;
    const std::string capture = test::capture_stream("bt-q818");
    test::write_file(dir.file("q818.nmea"), capture);
    const size_t blocks = (capture.size() + 99) / 100;

    DumpRun run = run_dump(dir, "--clock=0 --block=100 - <" + quote(dir.file("q818.nmea")));
    EXPECT_EQ(0, run.status);
    ASSERT_EQ(blocks, run.out.size());
    EXPECT_NE(std::string::npos, run.out.back().find("\"lat\":3401.9765,\"lon\":-11744.8274"));
    EXPECT_NE(std::string::npos, run.out.back().find("\"utc\":{\"year\":110,\"mon\":5,\"day\":3,"));

    run = run_dump(dir, "--summary --block 100 " + quote(dir.file("q818.nmea")));
    EXPECT_EQ(0, run.status);
    ASSERT_EQ(1u, run.out.size());
    EXPECT_EQ("{\"bytes\":" + std::to_string(capture.size()) + ",\"blocks\":" +
                  std::to_string(blocks) + ",\"packs\":60}",
              run.out[0]);
}

TEST(NmeaDump, ReportsErrorsAndTracesOnRequest) {
    test::TempDir dir;
    const std::string bad = nmea_sentence("GPGGA,1,2");
    test::write_file(dir.file("bad.nmea"), bad);
    const DumpRun run = run_dump(dir, "--errors --summary " + quote(dir.file("bad.nmea")));
    EXPECT_EQ(0, run.status);
    EXPECT_EQ("trace: " + bad.substr(0, bad.size() - 2) + "\nerror: GPGGA parse error!\n", run.err);
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

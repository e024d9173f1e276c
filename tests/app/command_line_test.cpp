// The four programs share one command-line style: the same --help and
// --version, values as --opt=value or --opt value, "--" ending the options,
// and one error form naming what is wrong, with exit status 2.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <string>
#include <vector>

#include "support/process.h"
#include "support/temp_dir.h"

namespace {

using namespace std::chrono_literals;
using vgps::test::ChildProcess;
using vgps::test::read_file;
using vgps::test::TempDir;

struct Outcome {
    int status;
    std::string out, err;
};

Outcome run(const std::string& binary, const std::vector<std::string>& args) {
    TempDir dir;
    std::vector<std::string> argv{binary};
    argv.insert(argv.end(), args.begin(), args.end());
    ChildProcess child(argv, dir.file("out"), dir.file("err"));
    const int raw = child.wait(10000ms);
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, read_file(dir.file("out")), read_file(dir.file("err"))};
}

std::string first_line(const std::string& text) { return text.substr(0, text.find('\n')); }

struct Program {
    const char* name;
    const char* binary;
    // An option with a value it refuses, and what the error line says.
    const char* option;
    const char* bad_value;
    const char* need;
};

const Program kPrograms[] = {
    {"vexod-gps", VEXOD_GPS_BINARY, "--positions", "0", "needs a count of 1 or more, not \"0\""},
    {"vexod", VEXOD_BINARY, "--speed", "-1", "needs a number from 0 to 1000000, not \"-1\""},
    {"nmea-dump", NMEA_DUMP_BINARY, "--block", "x", "needs a number of bytes from 1 to 16777216, not \"x\""},
    {"sdp-dump", SDP_DUMP_BINARY, "--addr", "00:11", "needs an address XX:XX:XX:XX:XX:XX, not \"00:11\""},
};

TEST(CommandLine, HelpAndVersionAreTheSameForEveryProgram) {
    for (const Program& p : kPrograms) {
        SCOPED_TRACE(p.name);
        for (const char* help : {"--help", "-h"}) {
            const Outcome r = run(p.binary, {help});
            EXPECT_EQ(r.status, 0);
            EXPECT_EQ(r.out.rfind(std::string("usage: ") + p.name + " ", 0), 0u) << r.out;
            EXPECT_NE(r.out.find(std::string("  ") + p.option + " "), std::string::npos) << r.out;
            EXPECT_NE(r.out.find("Exit status: 0"), std::string::npos) << r.out;
            EXPECT_EQ(r.err, "");
        }
        const Outcome v = run(p.binary, {"--version"});
        EXPECT_EQ(v.status, 0);
        EXPECT_EQ(v.out, std::string(p.name) + " " + VGPS_VERSION + "\n");
    }
}

TEST(CommandLine, ErrorsNameTheOptionInOneFormWithStatus2) {
    for (const Program& p : kPrograms) {
        SCOPED_TRACE(p.name);
        const std::string usage = std::string("usage: ") + p.name + " ";
        const std::string value_error = std::string(p.name) + ": " + p.option + ": " + p.need;
        const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
            {{"--frobnicate"}, std::string(p.name) + ": unknown option --frobnicate"},
            {{std::string(p.option) + "=" + p.bad_value}, value_error},
            {{p.option, p.bad_value}, value_error},
            {{p.option}, std::string(p.name) + ": " + p.option + ": 1 required"},
        };
        for (const auto& [args, line] : cases) {
            SCOPED_TRACE(args.front());
            const Outcome r = run(p.binary, args);
            EXPECT_EQ(r.status, 2);
            EXPECT_EQ(r.out, "");
            EXPECT_EQ(first_line(r.err).rfind(line, 0), 0u) << r.err;
            EXPECT_NE(r.err.find("\n" + usage), std::string::npos) << r.err;
            EXPECT_NE(r.err.find(std::string("Try '") + p.name + " --help'"), std::string::npos) << r.err;
        }
    }
}

TEST(CommandLine, TheTimeOutTakesOnlyWhatTheClockCanHold) {
    for (const char* value : {"nan", "NaN", "inf", "-inf", "1e400", "1000001", "1e7", "0", "-1", "0x10", "5s"}) {
        const Outcome r = run(VEXOD_GPS_BINARY, {"--headless", "--timeout", value});
        EXPECT_EQ(r.status, 2) << value;
        EXPECT_EQ(first_line(r.err),
                  std::string("vexod-gps: --timeout: needs a number of seconds above 0 and at most 1000000, not \"") +
                      value + "\"");
    }
}

TEST(CommandLine, DoubleDashEndsTheOptions) {
    // After "--" a name with a leading dash is a file, not an option.
    const Outcome dump = run(NMEA_DUMP_BINARY, {"--summary", "--", "--no-such-file"});
    EXPECT_EQ(dump.status, 2);
    EXPECT_EQ(first_line(dump.err).rfind("nmea-dump: cannot open --no-such-file: ", 0), 0u) << dump.err;
    const Outcome sdp = run(SDP_DUMP_BINARY, {"--addr=00:06:66:4a:0b:c1", "--hex", "--", "/dev/null"});
    EXPECT_EQ(sdp.status, 0) << sdp.err;
    EXPECT_EQ(sdp.out.substr(sdp.out.rfind("channel")), "channel none\n");
}

}  // namespace

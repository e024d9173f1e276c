// vexod-gps --headless --script as a process against the real vexod: what
// a script prints, what it complains about, how it ends.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "support/process.h"
#include "support/temp_dir.h"

namespace {

using namespace std::chrono_literals;
using vgps::test::ChildProcess;
using vgps::test::exited_with;
using vgps::test::output_lines;
using vgps::test::read_file;
using vgps::test::TempDir;
using vgps::test::VexodProcess;
using vgps::test::write_file;

struct ScriptRun {
    int status;
    std::vector<std::string> out;
    std::string err;
};

// Runs vexod-gps --headless with `args`; its output and status.
ScriptRun run_gps(const TempDir& dir, const std::vector<std::string>& args) {
    ::setenv("VEXOD_GPS_PREFS_DIR", dir.path().c_str(), 1);
    std::vector<std::string> argv{VEXOD_GPS_BINARY, "--headless"};
    argv.insert(argv.end(), args.begin(), args.end());
    ChildProcess gps(argv, dir.file("out"), dir.file("err"));
    const int status = gps.wait(20000ms);
    return {status, output_lines(dir.file("out")), read_file(dir.file("err"))};
}

ScriptRun run_script(const TempDir& dir, const std::string& socket, const std::string& script) {
    write_file(dir.file("script"), script);
    return run_gps(dir, {"--script", dir.file("script"), "--socket", socket});
}

TEST(Script, DumpsOneLineEachComplainsAndGoesOnAndEndsWithTheWaitThatRanOut) {
    TempDir dir;
    VexodProcess vexod(VEXOD_BINARY, dir.path(), "{}");
    const ScriptRun run = run_script(dir, vexod.socket_path(), R"(# a script
wait-for "Skyvane GPS Demo" 5   # the notice
tap-row 1 7
tap-detail 0 0
tap-bookmark 0
tap-row 1 0
back
dump
dismiss
dismiss
wait-for 'never shown' 0.2
dump
)");
    EXPECT_TRUE(exited_with(run.status, 4)) << run.err;
    const auto& out = run.out;
    ASSERT_EQ(out.size(), 1u) << "nothing runs after the wait that ran out";
    const auto dump = nlohmann::json::parse(out[0]);
    EXPECT_EQ(dump["screens"][0]["title"], "Skyvane GPS Demo");
    EXPECT_EQ(dump["alerts"].size(), 1u);
    std::vector<std::string> complaints;
    for (const auto& line : output_lines(dir.file("err"))) {
        if (line.empty() || line[0] != '<') complaints.push_back(line);
    }
    // While the notice is up it covers the search row (1 0); the one
    // after it is dismissed by the first "dismiss".
    EXPECT_EQ(complaints, (std::vector<std::string>{"not on screen 1 7", "no detail button 0 0", "no bookmark button 0",
                                                    "not on screen 1 0", "no back button", "no alert",
                                                    "timeout never shown"}));
}

TEST(Script, BadScriptsAreRefusedBeforeAnythingStarts) {
    TempDir dir;
    const std::string nobody = dir.file("nobody");
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"dump\ntap\n", "2: unknown command \"tap\""},
        {"wait soon\n", "1: wait: needs a number of seconds from 0 to 1000000, not \"soon\""},
        {"wait nan\n", "1: wait: needs a number of seconds from 0 to 1000000, not \"nan\""},
        {"tap-row 1\n", "1: tap-row needs SECTION ROW"},
        {"tap-row 1 -2\n", "1: tap-row: needs positions of 0 or more, not \"-2\""},
        {"dump now\n", "1: dump takes no arguments"},
        {"\n\nwait-for \"open\n", "3: unterminated quote at column 10"},
    };
    for (const auto& [script, error] : cases) {
        const ScriptRun run = run_script(dir, nobody, script);
        EXPECT_TRUE(exited_with(run.status, 2)) << script;
        EXPECT_EQ(run.err, "vexod-gps: " + dir.file("script") + ":" + error + "\n");
        EXPECT_TRUE(run.out.empty());
    }
    // A missing script, a folder; a script plays the user, so the scripted
    // road's options do not go with it.
    const std::vector<std::pair<std::vector<std::string>, std::string>> refused = {
        {{"--script", dir.file("none")}, dir.file("none") + ": No such file or directory\n"},
        {{"--script", dir.path()}, dir.path() + ": Is a directory\n"},
        {{"--script", dir.file("script"), "--positions", "3"}, "--script excludes --positions\n"},
    };
    for (const auto& [args, error] : refused) {
        const ScriptRun run = run_gps(dir, args);
        EXPECT_TRUE(exited_with(run.status, 2)) << error;
        EXPECT_EQ(run.err.rfind("vexod-gps: " + error, 0), 0u) << run.err;
    }
}

}  // namespace

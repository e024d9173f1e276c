// The sdp-dump tool, run as a process: its output is read by other checks,
// so its exact lines and exit codes are tested here.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sstream>
#include <string>
#include <vector>

#include "sdp_records.h"
#include "support/temp_dir.h"

namespace vgps::test {
namespace {

struct DumpRun {
    int status;
    std::vector<std::string> out;
    std::string err;
};

// Runs sdp-dump with `args`, stdin from `input` (a file path).
DumpRun run_dump(const std::vector<std::string>& args, const std::string& input = "/dev/null") {
    TempDir dir;
    const std::string out_path = dir.file("out");
    const std::string err_path = dir.file("err");
    const pid_t pid = fork();
    if (pid == 0) {
        const int in = open(input.c_str(), O_RDONLY);
        const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(in, STDIN_FILENO);
        dup2(out, STDOUT_FILENO);
        dup2(err, STDERR_FILENO);
        std::vector<char*> argv{const_cast<char*>(VGPS_SDP_DUMP)};
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(VGPS_SDP_DUMP, argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    DumpRun r;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::istringstream lines(read_file(out_path));
    for (std::string line; std::getline(lines, line);) r.out.push_back(line);
    r.err = read_file(err_path);
    return r;
}

const std::string kData = std::string(VGPS_TEST_DATA_DIR) + "/sdp/";
const std::string kMe =
    "<-[DaemonManager serviceQueryResponse:remote:patten:patten_len:attribute:attribute_len:"
    "result:]> ";

TEST(SdpDump, ListsARealDevicesRecordFromHexText) {
    const DumpRun r = run_dump({"--hex", kData + "rn-spp.hex", "--addr", "00:06:66:4A:0b:C1"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, (std::vector<std::string>{
                         "<print_service_attr> "
                         "------------------------------------------------------------",
                         "<sdp_record_print> Service Name: RNI-SPP",
                         "<print_service_attr> Service Record Handle: 0x00010000",
                         "<print_service_attr> Service Class ID List:",
                         "<print_service_class>   \"Serial Port\" (0x1101)",
                         "<print_service_attr> Protocol Descriptor List:",
                         "<print_service_desc>   \"L2CAP\" (0x0100)",
                         "<print_service_desc>   \"RFCOMM\" (0x0003)",
                         "<print_service_desc>     Channel: 1",
                         "<print_service_attr> Language Base Attribute List:",
                         "<print_lang_attr>   code_ISO639: 0x656e",
                         "<print_lang_attr>   encoding:    0x6a",
                         "<print_lang_attr>   base_offset: 0x100",
                         kMe + "Serial Port Service Name: [RNI-SPP]",
                         kMe + "BD_ADDR: 00:06:66:4a:0b:c1",
                         "channel 1",
                     }));
}

TEST(SdpDump, ReadsRawBytesFromStdinOrAFile) {
    TempDir dir;
    const std::string raw = dir.file("dialog.bin");
    const Bytes bytes = fixture("dialog-audio.hex");
    write_file(raw, std::string(bytes.begin(), bytes.end()));
    for (const DumpRun& r : {run_dump({}, raw), run_dump({"-"}, raw), run_dump({raw})}) {
        EXPECT_EQ(r.status, 0);
        ASSERT_GE(r.out.size(), 2u);
        EXPECT_EQ(r.out[r.out.size() - 2], kMe + "BD_ADDR: 00:00:00:00:00:00");
        EXPECT_EQ(r.out.back(), "channel 2");
    }

    write_file(raw, std::string("\x35\x00", 2));
    const DumpRun none = run_dump({raw});
    EXPECT_EQ(none.status, 0);
    EXPECT_EQ(none.out, (std::vector<std::string>{kMe + "No rfcomm channel found", "channel none"}));
}

TEST(SdpDump, UnreadableInputExitsWithTwo) {
    TempDir dir;
    const std::string bad_hex = dir.file("bad.hex");
    write_file(bad_hex, "35 0x");
    const std::string odd_hex = dir.file("odd.hex");
    write_file(odd_hex, "350");
    for (const auto& args : std::vector<std::vector<std::string>>{
             {dir.file("missing")}, {dir.path()}, {"--hex", bad_hex}, {"--hex", odd_hex},
             {"--addr", "00:11:22"}, {"--bogus"}}) {
        const DumpRun r = run_dump(args);
        EXPECT_EQ(r.status, 2) << args[0];
        EXPECT_TRUE(r.out.empty());
        EXPECT_EQ(r.err.rfind("sdp-dump: ", 0), 0u) << r.err;
    }
}

}  // namespace
}  // namespace vgps::test

#include "platform/log.h"

#include <gtest/gtest.h>

#include <string>

namespace vgps {
namespace {

TEST(Log, CaptureRecordsFormattedLinesInOrderWithoutTrailingNewline) {
    LogCapture capture;
    log_from("vexod_power_on", "funcid = %d", 6);
    log_from("writen", "write(%d): %s\n", 3, "Broken pipe");
    log_from("-[DaemonManager initializeDaemon]");
    log_error("raw %d", 7);
    EXPECT_EQ(capture.lines(),
              (std::vector<std::string>{"<vexod_power_on> funcid = 6", "<writen> write(3): Broken pipe",
                                        "<-[DaemonManager initializeDaemon]> ", "raw 7"}));
    EXPECT_TRUE(capture.contains("<vexod_power_on> funcid = 6"));
}

TEST(Log, LongLinesAreNotCut) {
    LogCapture capture;
    std::string long_text(5000, 'x');
    log_from("f", "%s", long_text.c_str());
    ASSERT_EQ(capture.lines().size(), 1u);
    EXPECT_EQ(capture.lines()[0], "<f> " + long_text);
}

TEST(Log, NestedCaptureRestoresThePreviousSink) {
    LogCapture outer;
    {
        LogCapture inner;
        log_from("f", "inner");
        EXPECT_EQ(inner.lines().size(), 1u);
    }
    log_from("f", "outer");
    EXPECT_EQ(outer.lines(), std::vector<std::string>{"<f> outer"});
}

}  // namespace
}  // namespace vgps

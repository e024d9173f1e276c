#include "platform/log.h"

#include <gtest/gtest.h>

#include <string>

namespace vgps {
namespace {

TEST(Log, CaptureRecordsFormattedLinesInOrderWithoutTrailingNewline) {
    LogCapture capture;
    log_error("<%s> funcid = %d", "vexod_power_on", 6);
    log_error("<%s> write(%d): %s\n", "writen", 3, "Broken pipe");
    EXPECT_EQ(capture.lines(), (std::vector<std::string>{"<vexod_power_on> funcid = 6",
                                                         "<writen> write(3): Broken pipe"}));
    EXPECT_TRUE(capture.contains("<vexod_power_on> funcid = 6"));
}

TEST(Log, LongLinesAreNotCut) {
    LogCapture capture;
    std::string long_text(5000, 'x');
    log_error("<%s> %s", "f", long_text.c_str());
    ASSERT_EQ(capture.lines().size(), 1u);
    EXPECT_EQ(capture.lines()[0], "<f> " + long_text);
}

TEST(Log, NestedCaptureRestoresThePreviousSink) {
    LogCapture outer;
    {
        LogCapture inner;
        log_error("<%s> inner", "f");
        EXPECT_EQ(inner.lines().size(), 1u);
    }
    log_error("<%s> outer", "f");
    EXPECT_EQ(outer.lines(), std::vector<std::string>{"<f> outer"});
}

}  // namespace
}  // namespace vgps

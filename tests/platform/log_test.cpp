#include "platform/log.h"

#include <gtest/gtest.h>

#include <string>

namespace vgps {
namespace {

TEST(Log, LinesAreFormattedWholeInOrderWithoutTheirNewline) {
    LogCapture outer;
    {
        LogCapture capture;
        const std::string long_text(5000, 'x');
        log_from("vexod_power_on", "funcid = %d", 6);
        log_from("writen", "write(%d): %s\n", 3, "Broken pipe");
        log_from("-[DaemonManager initializeDaemon]");
        log_error("raw %d", 7);
        log_from("f", "%s", long_text.c_str());
        EXPECT_EQ(capture.lines(),
                  (std::vector<std::string>{"<vexod_power_on> funcid = 6", "<writen> write(3): Broken pipe",
                                            "<-[DaemonManager initializeDaemon]> ", "raw 7", "<f> " + long_text}));
    }
    // A capture gone gives the lines back to the one before it.
    log_from("f", "outer");
    EXPECT_EQ(outer.lines(), std::vector<std::string>{"<f> outer"});
}

}  // namespace
}  // namespace vgps

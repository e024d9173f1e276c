// The small platform services: notifications, texts, alerts.
#include <gtest/gtest.h>

#include <cstdio>

#include "platform/alert.h"
#include "platform/notification_center.h"
#include "platform/text.h"
#include "support/temp_dir.h"

namespace vgps {
namespace {

// (Matching "GPS" ignoring case is the record walk's: tests/sdp.)
TEST(Text, AcceptsOnlyWellFormedUtf8) {
    for (const char* text : {"Garmin \xc3\xa9trex", "\xf0\x9f\x9b\xb0", ""}) EXPECT_EQ(string_from_utf8(text), text);
    // Overlong, a surrogate, above U+10FFFF, cut short.
    for (const char* text : {"\xff", "\xc0\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80", "ab\xe2\x82"})
        EXPECT_FALSE(string_from_utf8(text)) << text;
}

TEST(Alert, HeadlessPresenterRecordsAndPrintsOneLine) {
    test::TempDir dir;
    FILE* out = std::fopen(dir.file("out").c_str(), "w");
    HeadlessAlertPresenter presenter(out);
    AlertPresenter* previous = set_alert_presenter(&presenter);
    AlertView("Daemon disconnected", "The \"vexod\" daemon exited.\n", nullptr, "Dismiss").show();
    set_alert_presenter(previous);
    std::fclose(out);
    EXPECT_EQ(test::read_file(dir.file("out")),
              "alert \"Daemon disconnected\" \"The \\\"vexod\\\" daemon exited.\\n\" [Dismiss]\n");
    ASSERT_EQ(presenter.alerts().size(), 1u);
    EXPECT_EQ(presenter.alerts()[0].cancel, "Dismiss");
    EXPECT_FALSE(presenter.alerts()[0].has_delegate);
}

}  // namespace
}  // namespace vgps

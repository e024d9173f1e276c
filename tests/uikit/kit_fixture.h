// A fresh application on its own run loop for each test, and helpers to
// build small windows.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "platform/run_loop.h"
#include "uikit/UIApplication.h"
#include "uikit/UIWindow.h"

namespace vgps::test {

class KitTest : public ::testing::Test {
protected:
    // A key window of the screen's size.
    std::shared_ptr<UIWindow> makeWindow() {
        auto window = std::make_shared<UIWindow>(app.mainScreen()->bounds());
        window->makeKeyAndVisible();
        return window;
    }

    RunLoop loop;
    UIApplication app{&loop};
};

}  // namespace vgps::test

#pragma once

#include "app/AppDelegate.h"
#include "fake/FakePlatform.h"

#include <gtest/gtest.h>
#include <memory>

namespace quorvel::testing {

// An application object on the recording fake platform.
class AppFixture : public ::testing::Test {
protected:
    static constexpr const char* cloudURL = "http://203.0.113.10";

    FakePlatform platform;
    std::shared_ptr<AppDelegate> app;

    void makeApp(bool cloud = true) {
        app = std::make_shared<AppDelegate>(platform, cloud, cloudURL);
        platform.application().setDelegate(app.get());
        platform.calls.clear();
    }

    // Launches and forgets what start-up did.
    void launch(bool cloud = true) {
        makeApp(cloud);
        app->applicationDidFinishLaunching();
        platform.runMainQueue();
        platform.calls.clear();
    }

    std::vector<std::string> alertTexts() const {
        std::vector<std::string> texts;
        for (const auto& alert : platform.shownAlerts) {
            texts.push_back(alert.messageText);
        }
        return texts;
    }
};

} // namespace quorvel::testing

#pragma once

#include "app/AppDelegate.h"
#include "fake/FakePlatform.h"
#include "fake/TestFiles.h"

#include <gmock/gmock.h>
#include <memory>

namespace quorvel::testing {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

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

    // Everything the application wrote to its log so far.
    std::string logText() const { return readFile(*app->logFilePath()); }

    std::vector<std::string> alertTexts() const {
        std::vector<std::string> texts;
        for (const auto& alert : platform.shownAlerts) {
            texts.push_back(alert.messageText);
        }
        return texts;
    }
};

// The application object launched before each test, its start-up forgotten.
class LaunchedAppFixture : public AppFixture {
protected:
    void SetUp() override { launch(); }
};

} // namespace quorvel::testing

#include "unit/AppFixture.h"

namespace quorvel::testing {
namespace {

class ScriptDialogsTest : public LaunchedAppFixture {
protected:
    std::optional<std::string> prompt(const std::optional<std::string>& defaultText,
                                      AlertResult answer) {
        platform.alertAnswers.push_back(answer);
        int calls = 0;
        std::optional<std::string> result = "unset";
        app->runJavaScriptTextInputPanel("输入价格", defaultText,
                                         [&](std::optional<std::string> text) {
                                             ++calls;
                                             result = std::move(text);
                                         });
        EXPECT_EQ(calls, 1);
        return result;
    }
};

TEST_F(ScriptDialogsTest, AlertAndConfirmAnswerOncePerButton) {
    int alerts = 0;
    app->runJavaScriptAlertPanel("", [&alerts] { ++alerts; });
    EXPECT_EQ(alerts, 1);
    EXPECT_EQ(platform.shownAlerts.at(0).buttons, std::vector<std::string>{"好"});
    EXPECT_EQ(platform.shownAlerts.at(0).messageText, "");
    EXPECT_EQ(platform.shownAlerts.at(0).style, AlertStyle::Default);

    std::vector<bool> answers;
    for (int response : {1000, 1001, -4}) {
        platform.alertAnswers.push_back(AlertResult{response, ""});
        app->runJavaScriptConfirmPanel("删除 sh600519？",
                                       [&answers](bool ok) { answers.push_back(ok); });
    }
    EXPECT_EQ(answers, (std::vector<bool>{true, false, false}));
    EXPECT_EQ(platform.shownAlerts.at(1).buttons, (std::vector<std::string>{"确认", "取消"}));
    EXPECT_EQ(platform.shownAlerts.at(1).messageText, "删除 sh600519？");
}

TEST_F(ScriptDialogsTest, PromptAnswersTheFieldOnlyForConfirm) {
    EXPECT_EQ(prompt(std::nullopt, {1000, ""}), std::string(""));
    const AlertSpec& shown = platform.shownAlerts.back();
    ASSERT_TRUE(shown.textField);
    EXPECT_EQ(shown.textField->width, 280);
    EXPECT_EQ(shown.textField->height, 24);
    EXPECT_EQ(shown.textField->text, "");
    EXPECT_EQ(shown.buttons, (std::vector<std::string>{"确认", "取消"}));

    EXPECT_EQ(prompt("1800", {1000, "1800"}), std::string("1800"));
    EXPECT_EQ(platform.shownAlerts.back().textField->text, "1800");
    EXPECT_EQ(prompt("1800", {1000, "1795.5"}), std::string("1795.5"));
    EXPECT_EQ(prompt("1800", {1001, "typed"}), std::nullopt);
    EXPECT_EQ(prompt(std::nullopt, {-4, "typed"}), std::nullopt);
}

} // namespace
} // namespace quorvel::testing

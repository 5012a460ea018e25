#include "app/AppDelegate.h"
#include "service/LogEvents.h"

namespace quorvel {

namespace {
const std::string stopDialogsLabel = "阻止此页面继续弹出对话框(_B)";
} // namespace

// Shows one of the page's dialogs, offering to stop the next ones when they
// come in a row; no value when the page's dialogs are stopped, and the
// dialog is answered at once without being shown.
std::optional<AlertResult> AppDelegate::runPageDialog(AlertSpec details, const std::string& kind) {
    if (page.dialogs().isStopped()) {
        log("script dialog not shown type=" + kind);
        return std::nullopt;
    }
    if (page.dialogs().offersStop(platform.mainQueue().now())) {
        details.checkBox = stopDialogsLabel;
    }
    page.dialogs().opened();
    const AlertResult result = platform.alerts().runModal(details);
    page.dialogs().answered(platform.mainQueue().now());
    if (details.checkBox && result.checkBoxChecked) {
        log(logevent::scriptDialogsStopped, "script dialogs stopped by the user");
        page.handle(PageEvent::UserStoppedDialogs);
    }
    return result;
}

void AppDelegate::runJavaScriptAlertPanel(const std::string& message,
                                          const std::function<void()>& completion) {
    AlertSpec details;
    details.messageText = message;
    details.buttons = {"好"};
    runPageDialog(details, "alert");
    completion();
}

void AppDelegate::runJavaScriptConfirmPanel(const std::string& message,
                                            const std::function<void(bool)>& completion) {
    AlertSpec details;
    details.messageText = message;
    details.buttons = {"确认", "取消"};
    const auto result = runPageDialog(details, "confirm");
    completion(result && result->response == alertFirstButtonReturn);
}

void AppDelegate::runJavaScriptTextInputPanel(
    const std::string& prompt, const std::optional<std::string>& defaultText,
    const std::function<void(std::optional<std::string>)>& completion) {
    AlertSpec details;
    details.messageText = prompt;
    details.buttons = {"确认", "取消"};
    details.textField = AlertTextField{280, 24, defaultText.value_or("")};
    const auto result = runPageDialog(details, "prompt");
    if (result && result->response == alertFirstButtonReturn) {
        completion(result->fieldText);
    } else {
        completion(std::nullopt);
    }
}

} // namespace quorvel

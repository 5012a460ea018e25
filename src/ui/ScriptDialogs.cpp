#include "app/AppDelegate.h"

namespace quorvel {

void AppDelegate::runJavaScriptAlertPanel(const std::string& message,
                                          const std::function<void()>& completion) {
    AlertSpec details;
    details.messageText = message;
    details.buttons = {"好"};
    platform.alerts().runModal(details);
    completion();
}

void AppDelegate::runJavaScriptConfirmPanel(const std::string& message,
                                            const std::function<void(bool)>& completion) {
    AlertSpec details;
    details.messageText = message;
    details.buttons = {"确认", "取消"};
    const AlertResult result = platform.alerts().runModal(details);
    completion(result.response == alertFirstButtonReturn);
}

void AppDelegate::runJavaScriptTextInputPanel(
    const std::string& prompt, const std::optional<std::string>& defaultText,
    const std::function<void(std::optional<std::string>)>& completion) {
    AlertSpec details;
    details.messageText = prompt;
    details.buttons = {"确认", "取消"};
    details.textField = AlertTextField{280, 24, defaultText.value_or("")};
    const AlertResult result = platform.alerts().runModal(details);
    if (result.response == alertFirstButtonReturn) {
        completion(result.fieldText);
    } else {
        completion(std::nullopt);
    }
}

} // namespace quorvel

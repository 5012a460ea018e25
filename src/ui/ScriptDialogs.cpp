#include "app/AppDelegate.h"

namespace quorvel {

void AppDelegate::runJavaScriptAlertPanel(const std::string& message,
                                          const std::function<void()>& completion) {
    AlertSpec spec;
    spec.messageText = message;
    spec.buttons = {"好"};
    platform.alerts().runModal(spec);
    completion();
}

void AppDelegate::runJavaScriptConfirmPanel(const std::string& message,
                                            const std::function<void(bool)>& completion) {
    AlertSpec spec;
    spec.messageText = message;
    spec.buttons = {"确认", "取消"};
    const AlertResult result = platform.alerts().runModal(spec);
    completion(result.response == alertFirstButtonReturn);
}

void AppDelegate::runJavaScriptTextInputPanel(
    const std::string& prompt, const std::optional<std::string>& defaultText,
    const std::function<void(std::optional<std::string>)>& completion) {
    AlertSpec spec;
    spec.messageText = prompt;
    spec.buttons = {"确认", "取消"};
    spec.textField = AlertTextField{280, 24, defaultText.value_or("")};
    const AlertResult result = platform.alerts().runModal(spec);
    if (result.response == alertFirstButtonReturn) {
        completion(result.fieldText);
    } else {
        completion(std::nullopt);
    }
}

} // namespace quorvel

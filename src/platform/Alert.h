#pragma once

#include "platform/Interface.h"

#include <optional>
#include <string>
#include <vector>

namespace quorvel {

enum class AlertStyle { Default, Informational, Critical };

// An editable single-line text field shown below the message.
struct AlertTextField {
    int width = 280;
    int height = 24;
    std::string text;
};

struct AlertSpec {
    std::string messageText; // the bold line
    std::optional<std::string> informativeText;
    AlertStyle style = AlertStyle::Default;
    // In order; the first is the default button. With none, the platform
    // supplies a single default button.
    std::vector<std::string> buttons;
    std::optional<AlertTextField> textField;
    // A check box below the message, with this label (an underscore marks
    // its keyboard mnemonic), unchecked at first.
    std::optional<std::string> checkBox;
};

struct AlertResult {
    // 1000 for the first button, 1001 for the next; any other value when the
    // dialog was closed without a button.
    int response = 0;
    std::string fieldText; // what the user left in the text field, if any
    bool checkBoxChecked = false;
};

inline constexpr int alertFirstButtonReturn = 1000;

// Application-modal dialogs, never attached to a window.
struct Alerts : Interface {
    // Blocks, with the main queue still running, until the dialog is closed.
    virtual AlertResult runModal(const AlertSpec& details) = 0;
    // Closes the dialog opened last, as if without a button: its runModal
    // returns. Nothing happens when none is open.
    virtual void dismissNewest() = 0;
};

} // namespace quorvel

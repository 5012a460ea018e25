#include "platform/gtk/GtkAlerts.h"

#include <algorithm>
#include <gtkmm/box.h>
#include <gtkmm/entry.h>
#include <gtkmm/label.h>
#include <gtkmm/messagedialog.h>
#include <gtkmm/scrolledwindow.h>

namespace quorvel::gtk {

namespace {

constexpr int longTextHeight = 360;

// More than fits the dialog's text without scrolling.
bool isLong(const std::string& text) {
    return text.size() > 600 || std::count(text.begin(), text.end(), '\n') > 12;
}

Gtk::MessageType messageType(AlertStyle style) {
    switch (style) {
    case AlertStyle::Informational:
        return Gtk::MESSAGE_INFO;
    case AlertStyle::Critical:
        return Gtk::MESSAGE_ERROR;
    case AlertStyle::Default:
        break;
    }
    return Gtk::MESSAGE_OTHER;
}

class GtkAlerts final : public ModalAlerts {
public:
    explicit GtkAlerts(std::function<Gtk::Window*()> parent) : parentWindow(std::move(parent)) {}

    AlertResult runModal(const AlertSpec& details) override {
        if (ended) {
            return AlertResult{Gtk::RESPONSE_DELETE_EVENT, {}};
        }
        Gtk::MessageDialog dialog(details.messageText, false, messageType(details.style),
                                  Gtk::BUTTONS_NONE, true);
        dialog.set_title("Quorvel");
        // A long text scrolls, so that the dialog and its button stay on
        // the screen.
        Gtk::ScrolledWindow scroller;
        Gtk::Label longText;
        if (details.informativeText && !isLong(*details.informativeText)) {
            dialog.set_secondary_text(*details.informativeText);
        } else if (details.informativeText) {
            longText.set_text(*details.informativeText);
            longText.set_line_wrap(true);
            longText.set_max_width_chars(60);
            longText.set_xalign(0);
            longText.set_yalign(0);
            longText.set_selectable(true);
            scroller.set_policy(Gtk::POLICY_NEVER, Gtk::POLICY_AUTOMATIC);
            scroller.set_propagate_natural_width(true);
            scroller.set_propagate_natural_height(true);
            scroller.set_max_content_height(longTextHeight);
            scroller.add(longText);
            dialog.get_message_area()->pack_start(scroller, Gtk::PACK_EXPAND_WIDGET);
            scroller.show_all();
        }
        Gtk::Window* parent = parentWindow ? parentWindow() : nullptr;
        if (parent && parent->get_visible()) {
            dialog.set_transient_for(*parent);
            dialog.set_position(Gtk::WIN_POS_CENTER_ON_PARENT);
        } else {
            dialog.set_position(Gtk::WIN_POS_CENTER);
        }
        // Without buttons of its own, a dialog gets the one default button.
        const std::vector<std::string> buttons =
            details.buttons.empty() ? std::vector<std::string>{"好"} : details.buttons;
        for (std::size_t i = 0; i < buttons.size(); ++i) {
            dialog.add_button(buttons[i], alertFirstButtonReturn + static_cast<int>(i));
        }
        dialog.set_default_response(alertFirstButtonReturn);

        Gtk::Entry field;
        if (details.textField) {
            field.set_size_request(details.textField->width, details.textField->height);
            field.set_text(details.textField->text);
            field.set_activates_default(true);
            dialog.get_message_area()->pack_end(field, Gtk::PACK_SHRINK);
            field.show();
        }
        dialog.present();
        open.push_back(&dialog);
        AlertResult result;
        result.response = dialog.run();
        std::erase(open, &dialog);
        if (details.textField) {
            result.fieldText = field.get_text();
        }
        return result;
    }

    void endAll() override {
        ended = true;
        // A dialog's loop returns only after the loops of the dialogs opened
        // inside it: close the innermost first.
        for (auto dialog = open.rbegin(); dialog != open.rend(); ++dialog) {
            (*dialog)->response(Gtk::RESPONSE_DELETE_EVENT);
        }
    }

private:
    std::function<Gtk::Window*()> parentWindow;
    std::vector<Gtk::Dialog*> open; // outermost first
    bool ended = false;
};

} // namespace

std::unique_ptr<ModalAlerts> makeGtkAlerts(std::function<Gtk::Window*()> parentWindow) {
    return std::make_unique<GtkAlerts>(std::move(parentWindow));
}

} // namespace quorvel::gtk

#include "platform/gtk/GtkAlerts.h"

#include "BuildConfig.h"
#include "platform/gtk/GtkmmApplication.h"

#include <algorithm>
#include <gdkmm/monitor.h>
#include <gtkmm/box.h>
#include <gtkmm/checkbutton.h>
#include <gtkmm/entry.h>
#include <gtkmm/label.h>
#include <gtkmm/messagedialog.h>
#include <gtkmm/scrolledwindow.h>
#include <sigc++/functors/mem_fun.h>

namespace quorvel::gtk {

namespace {

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

// Room a dialog needs around its text within the work area: title bar,
// buttons, margins, a text field or a check box.
constexpr int frameAroundText = 240;
constexpr int smallestTextHeight = 120;

// The work area of the monitor the dialog will be on: its parent's, else the
// primary one.
Gdk::Rectangle workAreaFor(Gtk::Window* parent) {
    Gdk::Rectangle area(0, 0, 1024, 768);
    Glib::RefPtr<Gdk::Display> display = Gdk::Display::get_default();
    if (!display) {
        return area;
    }
    Glib::RefPtr<Gdk::Monitor> monitor;
    if (parent && parent->get_window()) {
        monitor = display->get_monitor_at_window(parent->get_window());
    }
    if (!monitor) {
        monitor = display->get_primary_monitor();
    }
    if (!monitor && display->get_n_monitors() > 0) {
        monitor = display->get_monitor(0);
    }
    if (monitor) {
        monitor->get_workarea(area);
    }
    return area;
}

// The message's texts scroll inside the dialog once they are taller than its
// monitor allows, and a word longer than a line breaks: the dialog never
// outgrows the work area, and its buttons stay on screen.
void fitTextsToScreen(Gtk::MessageDialog& dialog, Gtk::ScrolledWindow& scroller, Gtk::Box& texts,
                      const Gdk::Rectangle& workArea) {
    Gtk::Box* area = dialog.get_message_area();
    for (Gtk::Widget* child : area->get_children()) {
        auto* label = dynamic_cast<Gtk::Label*>(child);
        if (!label) {
            continue;
        }
        // The dialog keeps its own labels; copies in the scrolled box stand
        // in for them.
        if (label->get_visible() && !label->get_text().empty()) {
            auto* copy = Gtk::make_managed<Gtk::Label>(label->get_text());
            Pango::AttrList attributes = label->get_attributes();
            copy->set_attributes(attributes);
            copy->set_xalign(label->get_xalign());
            copy->set_yalign(label->get_yalign());
            copy->set_justify(label->get_justify());
            copy->set_selectable(label->get_selectable());
            copy->set_max_width_chars(label->get_max_width_chars());
            copy->set_line_wrap(true);
            copy->set_line_wrap_mode(Pango::WRAP_WORD_CHAR);
            texts.pack_start(*copy, Gtk::PACK_SHRINK);
        }
        label->set_no_show_all(true);
        label->hide();
    }
    scroller.set_policy(Gtk::POLICY_NEVER, Gtk::POLICY_AUTOMATIC);
    scroller.set_propagate_natural_height(true);
    scroller.set_propagate_natural_width(true);
    scroller.set_max_content_height(
        std::max(smallestTextHeight, workArea.get_height() - frameAroundText));
    scroller.set_max_content_width(std::max(200, workArea.get_width() - frameAroundText));
    scroller.add(texts);
    area->pack_start(scroller, Gtk::PACK_EXPAND_WIDGET);
    area->reorder_child(scroller, 0);
    scroller.show_all();
}

class GtkAlerts final : public ModalAlerts, public sigc::trackable {
public:
    explicit GtkAlerts(GtkmmApplication& application) : app(application) {
        // Quitting ends every open dialog, whose loops would otherwise keep
        // the event loop from ending until someone answers them.
        app.signalTerminating().connect(sigc::mem_fun(*this, &GtkAlerts::endAll));
    }

    AlertResult runModal(const AlertSpec& details) override {
        if (ended) {
            return AlertResult{Gtk::RESPONSE_DELETE_EVENT, {}};
        }
        Gtk::MessageDialog dialog(details.messageText, false, messageType(details.style),
                                  Gtk::BUTTONS_NONE, true);
        dialog.set_title(build::applicationName);
        if (details.informativeText) {
            dialog.set_secondary_text(*details.informativeText);
        }
        GtkMainWindow* window = app.mainWindow();
        Gtk::Window* parent = window ? &window->gtkWindow() : nullptr;
        Gtk::ScrolledWindow scroller;
        Gtk::Box texts(Gtk::ORIENTATION_VERTICAL, 12);
        fitTextsToScreen(dialog, scroller, texts, workAreaFor(parent));
        // The application's shortcuts (Ctrl+R, Ctrl+Q) work in the dialog too:
        // a page that brings one dialog after another must not lock them out.
        if (parent && parent->get_application()) {
            dialog.set_application(parent->get_application());
        }
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
            dialog.get_message_area()->pack_start(field, Gtk::PACK_SHRINK);
            field.show();
        }
        Gtk::CheckButton checkBox;
        if (details.checkBox) {
            checkBox.set_label(*details.checkBox);
            checkBox.set_use_underline(true);
            dialog.get_message_area()->pack_start(checkBox, Gtk::PACK_SHRINK);
            checkBox.show();
        }
        dialog.present();
        open.push_back(&dialog);
        AlertResult result;
        result.response = dialog.run();
        std::erase(open, &dialog);
        if (details.textField) {
            result.fieldText = field.get_text();
        }
        result.checkBoxChecked = details.checkBox && checkBox.get_active();
        return result;
    }

    void dismissNewest() override {
        if (!open.empty()) {
            open.back()->response(Gtk::RESPONSE_DELETE_EVENT);
        }
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
    GtkmmApplication& app;
    std::vector<Gtk::Dialog*> open; // outermost first
    bool ended = false;
};

} // namespace

std::unique_ptr<ModalAlerts> makeGtkAlerts(GtkmmApplication& app) {
    return std::make_unique<GtkAlerts>(app);
}

} // namespace quorvel::gtk

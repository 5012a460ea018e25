#include "platform/gtk/GtkDesktopServices.h"

#include <gtk/gtk.h>

namespace quorvel::gtk {

namespace {

class ClipboardPasteboard final : public Pasteboard {
public:
    void clearContents() override { gtk_clipboard_clear(clipboard()); }

    void setString(const std::string& text) override {
        GtkClipboard* board = clipboard();
        gtk_clipboard_set_text(board, text.c_str(), static_cast<gint>(text.size()));
        // Hands the text to a clipboard manager, if one runs, so that it
        // outlives the process.
        gtk_clipboard_set_can_store(board, nullptr, 0);
        gtk_clipboard_store(board);
    }

private:
    static GtkClipboard* clipboard() { return gtk_clipboard_get(GDK_SELECTION_CLIPBOARD); }
};

class DefaultHandlerWorkspace final : public Workspace {
public:
    void openFile(const std::filesystem::path& path) override {
        gchar* uri = g_filename_to_uri(path.c_str(), nullptr, nullptr);
        if (uri) {
            openURL(uri);
            g_free(uri);
        }
    }

    void openURL(const std::string& url) override {
        g_app_info_launch_default_for_uri_async(url.c_str(), nullptr, nullptr, nullptr, nullptr);
    }
};

class DisplayBeep final : public Sound {
public:
    void beep() override {
        if (GdkDisplay* display = gdk_display_get_default()) {
            gdk_display_beep(display);
        }
    }
};

} // namespace

std::unique_ptr<Pasteboard> makeClipboardPasteboard() {
    return std::make_unique<ClipboardPasteboard>();
}
std::unique_ptr<Workspace> makeDefaultHandlerWorkspace() {
    return std::make_unique<DefaultHandlerWorkspace>();
}
std::unique_ptr<Sound> makeDisplayBeep() {
    return std::make_unique<DisplayBeep>();
}

} // namespace quorvel::gtk

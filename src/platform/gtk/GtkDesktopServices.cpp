#include "platform/gtk/GtkDesktopServices.h"

#include <gtk/gtk.h>

namespace quorvel::gtk {

namespace {

GtkClipboard* clipboard() {
    return gtk_clipboard_get(GDK_SELECTION_CLIPBOARD);
}

} // namespace

void GtkDesktopServices::clearContents() {
    gtk_clipboard_clear(clipboard());
}

void GtkDesktopServices::setString(const std::string& text) {
    GtkClipboard* board = clipboard();
    gtk_clipboard_set_text(board, text.c_str(), static_cast<gint>(text.size()));
    // Hands the text to a clipboard manager, if one runs, so that it outlives
    // the process.
    gtk_clipboard_set_can_store(board, nullptr, 0);
    gtk_clipboard_store(board);
}

void GtkDesktopServices::openFile(const std::filesystem::path& path) {
    gchar* uri = g_filename_to_uri(path.c_str(), nullptr, nullptr);
    if (uri) {
        openURL(uri);
        g_free(uri);
    }
}

void GtkDesktopServices::openURL(const std::string& url) {
    g_app_info_launch_default_for_uri_async(url.c_str(), nullptr, nullptr, nullptr, nullptr);
}

void GtkDesktopServices::beep() {
    if (GdkDisplay* display = gdk_display_get_default()) {
        gdk_display_beep(display);
    }
}

} // namespace quorvel::gtk

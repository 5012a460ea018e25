#pragma once

#include <functional>
#include <gtk/gtk.h>
#include <string>

namespace quorvel::gtk {

// Stores a session cookie (HttpOnly, SameSite=Strict, path "/") for the host
// of the URL in the cookie store of the view's network session; `done` runs
// on the main loop once the store has it, also when storing failed.
void storeSessionCookie(GtkWidget* webView, const std::string& url, const std::string& name,
                        const std::string& value, std::function<void()> done);

} // namespace quorvel::gtk

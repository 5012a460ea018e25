#pragma once

#include <gtk/gtk.h>

namespace quorvel::gtk {

// How the engine's views for the page are made: all with the page's
// settings, and the first able to take over a web process started ahead of
// it.

// Has the engine start a web process now, ahead of the first page view's
// first load, so that it starts while the application waits for something
// else. Call after the engine is prepared, before any page view exists.
void startEarlyWebProcess();

// A new web view on the engine's default context, with the page's settings.
// The first one after startEarlyWebProcess() takes over the process it
// started.
GtkWidget* newPageWebView();

} // namespace quorvel::gtk

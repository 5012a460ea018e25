#pragma once

#include "platform/SystemEnvironment.h"

#include <filesystem>
#include <glib.h>
#include <optional>
#include <string>
#include <string_view>

namespace quorvel::gtk {

// The icon theme folder beside the program that holds the status icons;
// none when it is missing.
std::optional<std::filesystem::path> findStatusIconTheme(const SystemEnvironment& environment);

// The names of the status item's three icons.
struct StatusIconNames {
    const char* normal;
    const char* paused;
    const char* attention;
    // The panel finds icons by name in the desktop's icon theme only, not
    // in the item's own folder: a program that is not installed names none
    // there, and the panel shows the images.
    bool themeOnly;
};

// The symbolic "Q", which panels draw in their own foreground colour (GTK's
// and GNOME's as symbolic icons, Plasma's by its colour scheme); on the
// desktops whose panel draws icons as they are (UKUI, named in
// XDG_CURRENT_DESKTOP), the "Q" in its own colours, legible there on dark
// and light panels alike.
StatusIconNames statusIconNames(std::string_view currentDesktop);

// The named icon in its own colours at 16, 22, 24 and 32 pixels, as a
// StatusNotifierItem's pixmaps (a(iiay): width, height, ARGB32 in network
// byte order), for the panels that look icons up by name in their own theme
// only and so do not find an icon of a program that is not installed. Looked
// up in the desktop's icon themes and in the given folder; an empty array
// when neither has it. Floating.
GVariant* statusIconPixmaps(const char* iconName,
                            const std::optional<std::filesystem::path>& iconTheme);

} // namespace quorvel::gtk

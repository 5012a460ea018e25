#pragma once

#include <string>

namespace quorvel::gtk {

// A page of the application's own: the title and the text (its line breaks
// kept), centred, in the desktop's font, light or dark as the desktop is. No
// script, nothing loaded.
std::string messagePageHtml(const std::string& title, const std::string& text);

} // namespace quorvel::gtk

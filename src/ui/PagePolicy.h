#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quorvel {

// Scheme, host and port of a URL, in lower case, with the scheme's default
// port filled in.
struct Origin {
    std::string scheme;
    std::string host;
    int port = 0;
    bool operator==(const Origin&) const = default;
};

// No value for URLs without an authority (mailto:, about:, data:) or that do
// not parse: those share no origin with anything. A blob: URL has the origin
// of the URL it carries.
std::optional<Origin> originOf(std::string_view url);

bool isSameOrigin(std::string_view url, std::string_view baseURL);

// What becomes of a navigation of the window's page, or of a new window the
// page asks for.
enum class NavigationOutcome {
    // The service's own page: it loads in the window.
    LoadInWindow,
    // Another address the user asked for: the desktop's handler opens it.
    OpenInDesktop,
    Refuse,
};

// The window shows the service's origin and nothing else. Another address
// opens in the desktop only when the user asked for it, and only for the
// schemes a browser or mail client takes (never a local file or a program's
// own scheme). A new window of the service's origin loads in the window, but
// only from a user action.
NavigationOutcome decideNavigation(std::string_view url, std::string_view baseURL,
                                   bool userInitiated, bool newWindow);

std::string_view outcomeName(NavigationOutcome outcome);

} // namespace quorvel

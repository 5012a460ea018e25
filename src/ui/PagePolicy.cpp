#include "ui/PagePolicy.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace quorvel {

namespace {

std::string lowered(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

int defaultPort(const std::string& scheme) {
    if (scheme == "http" || scheme == "ws") {
        return 80;
    }
    if (scheme == "https" || scheme == "wss") {
        return 443;
    }
    return -1;
}

std::string schemeOf(std::string_view url) {
    const auto colon = url.find(':');
    if (colon == std::string_view::npos || colon == 0) {
        return {};
    }
    const std::string_view scheme = url.substr(0, colon);
    const bool valid = std::isalpha(static_cast<unsigned char>(scheme[0])) &&
                       std::all_of(scheme.begin(), scheme.end(), [](unsigned char c) {
                           return std::isalnum(c) || c == '+' || c == '-' || c == '.';
                       });
    return valid ? lowered(scheme) : std::string();
}

} // namespace

std::optional<Origin> originOf(std::string_view url) {
    std::string scheme = schemeOf(url);
    // A blob's origin is that of the page that made it.
    if (scheme == "blob") {
        url.remove_prefix(scheme.size() + 1);
        scheme = schemeOf(url);
    }
    if (scheme.empty() || url.substr(scheme.size(), 3) != "://") {
        return std::nullopt;
    }
    std::string_view authority = url.substr(scheme.size() + 3);
    authority = authority.substr(0, authority.find_first_of("/?#"));
    if (const auto at = authority.rfind('@'); at != std::string_view::npos) {
        authority.remove_prefix(at + 1);
    }
    std::string_view host = authority;
    std::string_view port;
    if (!authority.empty() && authority.front() == '[') {
        const auto close = authority.find(']');
        if (close == std::string_view::npos) {
            return std::nullopt;
        }
        host = authority.substr(0, close + 1);
        const std::string_view rest = authority.substr(close + 1);
        if (!rest.empty()) {
            if (rest.front() != ':') {
                return std::nullopt;
            }
            port = rest.substr(1);
        }
    } else if (const auto colon = authority.find(':'); colon != std::string_view::npos) {
        host = authority.substr(0, colon);
        port = authority.substr(colon + 1);
    }
    if (host.empty()) {
        return std::nullopt;
    }
    Origin origin{scheme, lowered(host), defaultPort(scheme)};
    if (!port.empty()) {
        int value = 0;
        const auto [end, error] = std::from_chars(port.data(), port.data() + port.size(), value);
        if (error != std::errc() || end != port.data() + port.size() || value < 0 ||
            value > 65535) {
            return std::nullopt;
        }
        origin.port = value;
    }
    return origin;
}

bool isSameOrigin(std::string_view url, std::string_view baseURL) {
    const auto target = originOf(url);
    const auto base = originOf(baseURL);
    return target && base && *target == *base;
}

NavigationOutcome decideNavigation(std::string_view url, std::string_view baseURL,
                                   bool userInitiated, bool newWindow) {
    if (isSameOrigin(url, baseURL)) {
        return !newWindow || userInitiated ? NavigationOutcome::LoadInWindow
                                           : NavigationOutcome::Refuse;
    }
    const std::string scheme = schemeOf(url);
    const bool desktopTakesIt = scheme == "http" || scheme == "https" || scheme == "mailto";
    return userInitiated && desktopTakesIt ? NavigationOutcome::OpenInDesktop
                                           : NavigationOutcome::Refuse;
}

std::string_view outcomeName(NavigationOutcome outcome) {
    switch (outcome) {
    case NavigationOutcome::LoadInWindow:
        return "load";
    case NavigationOutcome::OpenInDesktop:
        return "open-in-desktop";
    case NavigationOutcome::Refuse:
        return "refused";
    }
    return "refused";
}

} // namespace quorvel

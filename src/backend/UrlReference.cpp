#include "backend/UrlReference.h"

#include <cctype>

namespace quorvel {
namespace {

struct UriParts {
    std::optional<std::string> scheme;
    std::optional<std::string> authority;
    std::string path;
    std::optional<std::string> query;
    std::optional<std::string> fragment;
};

bool isHexDigit(char c) {
    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

// Every character must be unreserved, reserved, or part of a percent escape.
bool hasOnlyUriCharacters(std::string_view text) {
    static constexpr std::string_view allowed = "-._~:/?#[]@!$&'()*+,;=";
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '%') {
            if (i + 2 >= text.size() || !isHexDigit(text[i + 1]) || !isHexDigit(text[i + 2])) {
                return false;
            }
            i += 2;
            continue;
        }
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x80 || !(std::isalnum(u) || allowed.find(c) != std::string_view::npos)) {
            return false;
        }
    }
    return true;
}

std::optional<std::string> parseScheme(std::string_view& rest) {
    const auto colon = rest.find(':');
    if (colon == std::string_view::npos || colon == 0) {
        return std::nullopt;
    }
    const auto candidate = rest.substr(0, colon);
    if (!std::isalpha(static_cast<unsigned char>(candidate[0]))) {
        return std::nullopt;
    }
    for (const char c : candidate) {
        const auto u = static_cast<unsigned char>(c);
        if (!(std::isalnum(u) || c == '+' || c == '-' || c == '.')) {
            return std::nullopt;
        }
    }
    rest.remove_prefix(colon + 1);
    return std::string(candidate);
}

UriParts parse(std::string_view text) {
    UriParts parts;
    std::string_view rest = text;
    if (const auto hash = rest.find('#'); hash != std::string_view::npos) {
        parts.fragment = std::string(rest.substr(hash + 1));
        rest = rest.substr(0, hash);
    }
    if (const auto question = rest.find('?'); question != std::string_view::npos) {
        parts.query = std::string(rest.substr(question + 1));
        rest = rest.substr(0, question);
    }
    parts.scheme = parseScheme(rest);
    if (rest.starts_with("//")) {
        rest.remove_prefix(2);
        const auto slash = rest.find('/');
        parts.authority = std::string(rest.substr(0, slash));
        rest = slash == std::string_view::npos ? std::string_view{} : rest.substr(slash);
    }
    parts.path = std::string(rest);
    return parts;
}

// Section 5.2.4.
std::string removeDotSegments(std::string input) {
    std::string output;
    while (!input.empty()) {
        if (input.starts_with("../")) {
            input.erase(0, 3);
        } else if (input.starts_with("./")) {
            input.erase(0, 2);
        } else if (input.starts_with("/./")) {
            input.erase(0, 2);
        } else if (input == "/.") {
            input = "/";
        } else if (input.starts_with("/../") || input == "/..") {
            input = input == "/.." ? "/" : input.substr(3);
            const auto last = output.rfind('/');
            output.erase(last == std::string::npos ? 0 : last);
        } else if (input == "." || input == "..") {
            input.clear();
        } else {
            const auto next = input.find('/', input[0] == '/' ? 1 : 0);
            output += input.substr(0, next);
            input.erase(0, next == std::string::npos ? input.size() : next);
        }
    }
    return output;
}

// Section 5.2.3.
std::string merge(const UriParts& base, const std::string& referencePath) {
    if (base.authority && base.path.empty()) {
        return "/" + referencePath;
    }
    const auto slash = base.path.rfind('/');
    return (slash == std::string::npos ? std::string{} : base.path.substr(0, slash + 1)) +
           referencePath;
}

// Section 5.3.
std::string recompose(const UriParts& parts) {
    std::string result;
    if (parts.scheme) {
        result += *parts.scheme + ":";
    }
    if (parts.authority) {
        result += "//" + *parts.authority;
    }
    result += parts.path;
    if (parts.query) {
        result += "?" + *parts.query;
    }
    if (parts.fragment) {
        result += "#" + *parts.fragment;
    }
    return result;
}

} // namespace

std::optional<std::string> resolveUrlReference(std::string_view base, std::string_view reference) {
    if (!hasOnlyUriCharacters(base) || !hasOnlyUriCharacters(reference)) {
        return std::nullopt;
    }
    const UriParts b = parse(base);
    if (!b.scheme) {
        return std::nullopt;
    }
    const UriParts r = parse(reference);
    UriParts t;
    if (r.scheme) {
        t = r;
        t.path = removeDotSegments(r.path);
    } else if (r.authority) {
        t = r;
        t.path = removeDotSegments(r.path);
        t.scheme = b.scheme;
    } else {
        t.scheme = b.scheme;
        t.authority = b.authority;
        if (r.path.empty()) {
            t.path = b.path;
            t.query = r.query ? r.query : b.query;
        } else {
            t.path = removeDotSegments(r.path.starts_with('/') ? r.path : merge(b, r.path));
            t.query = r.query;
        }
    }
    t.fragment = r.fragment;
    return recompose(t);
}

} // namespace quorvel

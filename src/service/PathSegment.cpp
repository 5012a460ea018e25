#include "service/PathSegment.h"

namespace quorvel {

namespace {

bool isUnreserved(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

} // namespace

std::string encodePathSegment(std::string_view segment) {
    if (segment == ".") {
        return "%2E";
    }
    if (segment == "..") {
        return "%2E%2E";
    }
    constexpr std::string_view hexDigits = "0123456789ABCDEF";
    std::string encoded;
    encoded.reserve(segment.size());
    for (const char c : segment) {
        if (isUnreserved(c)) {
            encoded.push_back(c);
        } else {
            const auto byte = static_cast<unsigned char>(c);
            encoded.push_back('%');
            encoded.push_back(hexDigits[byte >> 4]);
            encoded.push_back(hexDigits[byte & 0x0F]);
        }
    }
    return encoded;
}

} // namespace quorvel

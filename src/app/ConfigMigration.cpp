#include "app/ConfigMigration.h"

#include <cstddef>
#include <cstdint>

namespace quorvel {

namespace {

constexpr std::string_view kCurrentName = "Quorvel";
constexpr std::string_view kFormerNames[] = {"Marrowfen", "Tarnwick"};
constexpr std::string_view kIntervalPrefix = "QUOTE_SYNC_INTERVAL_SECONDS=";
constexpr std::string_view kIntervalLine = "QUOTE_SYNC_INTERVAL_SECONDS=180";

std::string replaceAll(std::string_view text, std::string_view from, std::string_view to) {
    std::string result;
    result.reserve(text.size());
    std::size_t start = 0;
    for (std::size_t hit = text.find(from); hit != std::string_view::npos;
         hit = text.find(from, start)) {
        result.append(text.substr(start, hit - start));
        result.append(to);
        start = hit + from.size();
    }
    result.append(text.substr(start));
    return result;
}

// Length in bytes of the line separator that starts at `pos`, or 0 when there is none.
std::size_t separatorLength(std::string_view text, std::size_t pos) {
    const auto byte = [&](std::size_t i) {
        return i < text.size() ? static_cast<std::uint8_t>(text[i]) : std::uint8_t{0};
    };
    const std::uint8_t first = byte(pos);
    if (first >= 0x0A && first <= 0x0D) {
        return 1; // LF, VT, FF, CR
    }
    if (first == 0xC2 && byte(pos + 1) == 0x85) {
        return 2; // NEL
    }
    if (first == 0xE2 && byte(pos + 1) == 0x80 &&
        (byte(pos + 2) == 0xA8 || byte(pos + 2) == 0xA9)) {
        return 3; // LINE SEPARATOR, PARAGRAPH SEPARATOR
    }
    return 0;
}

} // namespace

bool isValidUtf8(std::string_view bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* const end = p + bytes.size();
    const auto isTail = [](unsigned char c) { return (c & 0xC0) == 0x80; };
    while (p < end) {
        const unsigned char lead = *p;
        if (lead < 0x80) {
            ++p;
            continue;
        }
        std::size_t length = 0;
        unsigned char low = 0x80; // allowed range of the second byte
        unsigned char high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            if (lead == 0xE0) {
                low = 0xA0; // overlong below U+0800
            } else if (lead == 0xED) {
                high = 0x9F; // surrogates
            }
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            if (lead == 0xF0) {
                low = 0x90; // overlong below U+10000
            } else if (lead == 0xF4) {
                high = 0x8F; // above U+10FFFF
            }
        } else {
            return false; // continuation byte, C0, C1 or F5..FF as lead
        }
        if (static_cast<std::size_t>(end - p) < length || p[1] < low || p[1] > high) {
            return false;
        }
        for (std::size_t i = 2; i < length; ++i) {
            if (!isTail(p[i])) {
                return false;
            }
        }
        p += length;
    }
    return true;
}

std::string migrateConfigText(std::string_view text) {
    std::string renamed(text);
    for (const std::string_view former : kFormerNames) {
        renamed = replaceAll(renamed, former, kCurrentName);
    }

    const std::string_view source = renamed;
    std::string result;
    result.reserve(source.size() + kIntervalLine.size() + 1);
    bool foundInterval = false;
    const auto emitLine = [&](std::string_view line) {
        if (line.starts_with(kIntervalPrefix)) {
            result.append(kIntervalLine);
            foundInterval = true;
        } else {
            result.append(line);
        }
    };

    std::size_t lineStart = 0;
    std::size_t pos = 0;
    while (pos < source.size()) {
        const std::size_t length = separatorLength(source, pos);
        if (length == 0) {
            ++pos;
            continue;
        }
        emitLine(source.substr(lineStart, pos - lineStart));
        result.push_back('\n');
        pos += length;
        lineStart = pos;
    }
    emitLine(source.substr(lineStart));

    if (!foundInterval) {
        result.push_back('\n');
        result.append(kIntervalLine);
    }
    return result;
}

} // namespace quorvel

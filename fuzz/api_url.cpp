// API addresses: any path either forms no URL or resolves against the base
// without leaving its scheme and authority, and every acknowledgement path
// built from an id, whatever bytes it holds, resolves to exactly that path
// under the base, so an id can never reach another endpoint.
#include "FuzzCheck.h"
#include "backend/UrlReference.h"
#include "service/PathSegment.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

bool onlyUriCharacters(std::string_view text) {
    static constexpr std::string_view allowed = "-._~:/?#[]@!$&'()*+,;=%";
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        const bool alphanumeric =
            (u >= '0' && u <= '9') || (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z');
        if (!alphanumeric && allowed.find(c) == std::string_view::npos) {
            return false;
        }
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    for (const std::string base : {"http://127.0.0.1:45721", "http://203.0.113.10"}) {
        if (const auto url = quorvel::resolveUrlReference(base, input)) {
            FUZZ_REQUIRE(onlyUriCharacters(*url));
            if (input.starts_with('/') && !input.starts_with("//")) {
                FUZZ_REQUIRE(url->starts_with(base + "/"));
            }
        }
        const std::string path =
            "/api/desktop-notifications/" + quorvel::encodePathSegment(input) + "/mark-notified";
        const auto acknowledgement = quorvel::resolveUrlReference(base, path);
        FUZZ_REQUIRE(acknowledgement.has_value());
        FUZZ_REQUIRE(*acknowledgement == base + path);
    }
    return 0;
}

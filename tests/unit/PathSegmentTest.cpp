#include "service/PathSegment.h"

#include <gtest/gtest.h>
#include <string>
#include <utility>

namespace quorvel {
namespace {

TEST(PathSegmentTest, KeepsUnreservedAndEncodesEverythingElse) {
    const std::pair<std::string, std::string> cases[] = {
        {"42", "42"},
        {"3F2504E0-4F89-41D3-9A0C-0305E82C3301", "3F2504E0-4F89-41D3-9A0C-0305E82C3301"},
        {"a.b_c~d-e", "a.b_c~d-e"},
        {"../../quotes/sync", "..%2F..%2Fquotes%2Fsync"},
        {"1?x=2#f", "1%3Fx%3D2%23f"},
        {"%2e%2E", "%252e%252E"},
        {"a b+c;d:e@f", "a%20b%2Bc%3Bd%3Ae%40f"},
        {"\\..\\", "%5C..%5C"},
        {"中", "%E4%B8%AD"},
        {std::string("a\0\x7F\xFF", 4), "a%00%7F%FF"},
        {"...", "..."},
        {".", "%2E"},
        {"..", "%2E%2E"},
        {"", ""},
    };
    for (const auto& [id, encoded] : cases) {
        EXPECT_EQ(encodePathSegment(id), encoded) << testing::PrintToString(id);
    }
}

} // namespace
} // namespace quorvel

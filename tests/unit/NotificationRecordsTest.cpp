#include "service/NotificationRecords.h"

#include <gtest/gtest.h>
#include <string>

namespace quorvel {
namespace {

std::string nested(std::size_t arrays) {
    return R"({"notifications":[],"extra":)" + std::string(arrays, '[') + std::string(arrays, ']') +
           "}";
}

TEST(NotificationRecordsTest, DecodesRecordsInOrderIgnoringExtraKeys) {
    const auto decoded = decodeDesktopNotificationsResponse(R"({
        "serverTime": "2026-12-06T06:30:50Z", "userId": 7, "meta": {"page": [1, 2.5, null]},
        "notifications": [
            {"id": "b-2", "messageTitle": "腾讯控股 突破 400", "messageBody": "",
             "sourceType": "alert_rule", "sourceId": "r9", "createdAt": 1.5e3},
            {"id": "", "messageTitle": "q\"\\\/\n\t\u00e9\ud83d\ude00", "messageBody": "x",
             "sourceType": null},
            {"sourceId": null, "messageBody": "body", "messageTitle": "t", "id": "a-1"}
        ]})");
    ASSERT_TRUE(decoded.has_value());
    const std::vector<DesktopNotification> expected = {
        {"b-2", "腾讯控股 突破 400", "", "alert_rule", "r9"},
        {"", "q\"\\/\n\té😀", "x", std::nullopt, std::nullopt},
        {"a-1", "t", "body", std::nullopt, std::nullopt},
    };
    EXPECT_EQ(decoded->notifications, expected);

    const auto empty =
        decodeDesktopNotificationsResponse("\xEF\xBB\xBF {\"notifications\": []} \n");
    ASSERT_TRUE(empty.has_value());
    EXPECT_TRUE(empty->notifications.empty());

    EXPECT_TRUE(decodeDesktopNotificationsResponse(nested(maxNotificationsJsonDepth - 1)));
}

class UndecodableBodyTest : public testing::TestWithParam<std::string> {};

TEST_P(UndecodableBodyTest, FailsAsAWhole) {
    EXPECT_EQ(decodeDesktopNotificationsResponse(GetParam()), std::nullopt);
}

const std::string kGood = R"({"id":"1","messageTitle":"t","messageBody":"b"})";

INSTANTIATE_TEST_SUITE_P(
    Bodies, UndecodableBodyTest,
    testing::Values(
        // Not a JSON object with a notifications array.
        "", "null", "[]", R"([{"notifications":[]}])", "{}", R"({"notifications":null})",
        R"({"notifications":{}})", R"({"notifications":"[]"})", R"({"Notifications":[]})",
        R"({"notifications":[]} {})", R"({"notifications":[]}x)", R"({"notifications":[],})",
        // A faulty element, also after a good one.
        R"({"notifications":[)" + kGood + R"(,"x"]})",
        R"({"notifications":[)" + kGood + R"(,null]})",
        R"({"notifications":[{"id":42,"messageTitle":"t","messageBody":"b"}]})",
        R"({"notifications":[{"id":"1","messageTitle":null,"messageBody":"b"}]})",
        R"({"notifications":[{"id":"1","messageTitle":["t"],"messageBody":"b"}]})",
        R"({"notifications":[)" + kGood + R"(,{"id":"2","messageTitle":"t"}]})",
        R"({"notifications":[{"ID":"1","messageTitle":"t","messageBody":"b"}]})",
        R"({"notifications":[{"id":"1","messageTitle":"t","messageBody":"b","sourceId":5}]})",
        R"({"notifications":[{"id":"1","messageTitle":"t","messageBody":"b","sourceType":false}]})",
        R"({"notifications":[{"id":"1","messageTitle":"t","messageBody":"b","sourceId":{}}]})",
        // Duplicate keys at every level, also in ignored parts.
        R"({"notifications":[],"notifications":[]})",
        R"({"notifications":[{"id":"1","id":"2","messageTitle":"t","messageBody":"b"}]})",
        R"({"notifications":[],"extra":{"a":1,"b":{"c":1,"c":2}}})",
        // Invalid text: ill-formed UTF-8 in a string or outside, lone surrogates, control bytes.
        "{\"notifications\":[{\"id\":\"\xC0\x80\",\"messageTitle\":\"t\",\"messageBody\":\"b\"}]}",
        "{\"notifications\":[],\"x\":\"\xED\xA0\x80\"}", "\xFF{\"notifications\":[]}",
        R"({"notifications":[],"x":"\ud800"})", R"({"notifications":[],"x":"\udc00\ud800"})",
        "{\"notifications\":[],\"x\":\"a\nb\"}",
        // A NUL byte is no JSON whitespace: whatever follows it must still be read and refused.
        std::string("{\"notifications\":[]}\0\xFF garbage", 30),
        std::string("{\"notifications\":[]}\0", 21), std::string("{\"notifications\":[\0]}", 21),
        // Numbers beyond a double, and nesting deeper than the limit.
        R"({"notifications":[],"x":1e400})", R"({"notifications":[],"x":-1e999})",
        nested(maxNotificationsJsonDepth), nested(100000)));

} // namespace
} // namespace quorvel

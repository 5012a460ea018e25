#include "service/NotificationRecords.h"

#include <nlohmann/json.hpp>
#include <set>

namespace quorvel {

namespace {

using Json = nlohmann::json;

// First pass over the body: accepts any JSON text and refuses only what the tree built by the
// second pass would hide or what costs unbounded work: repeated keys within one object (the tree
// would keep just one of them) and excessive nesting. The parser itself refuses invalid UTF-8
// and numbers that overflow a double.
class StructureCheck : public nlohmann::json_sax<Json> {
public:
    bool null() override { return true; }
    bool boolean(bool /*value*/) override { return true; }
    bool number_integer(number_integer_t /*value*/) override { return true; }
    bool number_unsigned(number_unsigned_t /*value*/) override { return true; }
    bool number_float(number_float_t /*value*/, const string_t& /*text*/) override { return true; }
    bool string(string_t& /*value*/) override { return true; }
    bool binary(binary_t& /*value*/) override { return false; }
    bool start_object(std::size_t /*elements*/) override {
        keysPerObject_.emplace_back();
        return enter();
    }
    bool key(string_t& value) override {
        return !keysPerObject_.empty() && keysPerObject_.back().insert(value).second;
    }
    bool end_object() override {
        keysPerObject_.pop_back();
        --depth_;
        return true;
    }
    bool start_array(std::size_t /*elements*/) override { return enter(); }
    bool end_array() override {
        --depth_;
        return true;
    }
    bool parse_error(std::size_t /*position*/, const std::string& /*lastToken*/,
                     const nlohmann::detail::exception& /*error*/) override {
        return false;
    }

private:
    bool enter() { return ++depth_ <= maxNotificationsJsonDepth; }

    std::size_t depth_ = 0;
    std::vector<std::set<std::string>> keysPerObject_;
};

bool requiredString(const Json& object, const char* key, std::string& out) {
    const auto it = object.find(key);
    if (it == object.end() || !it->is_string()) {
        return false;
    }
    out = it->get_ref<const std::string&>();
    return true;
}

bool optionalString(const Json& object, const char* key, std::optional<std::string>& out) {
    const auto it = object.find(key);
    if (it == object.end() || it->is_null()) {
        out.reset();
        return true;
    }
    if (!it->is_string()) {
        return false;
    }
    out = it->get_ref<const std::string&>();
    return true;
}

std::optional<DesktopNotification> decodeNotification(const Json& element) {
    if (!element.is_object()) {
        return std::nullopt;
    }
    DesktopNotification record;
    if (!requiredString(element, "id", record.id) ||
        !requiredString(element, "messageTitle", record.messageTitle) ||
        !requiredString(element, "messageBody", record.messageBody) ||
        !optionalString(element, "sourceType", record.sourceType) ||
        !optionalString(element, "sourceId", record.sourceId)) {
        return std::nullopt;
    }
    return record;
}

} // namespace

std::optional<DesktopNotificationsResponse>
decodeDesktopNotificationsResponse(std::string_view body) {
    // The parser takes a NUL byte for the end of the input and would accept whatever follows it.
    // A NUL byte is never valid in JSON text (not whitespace, and raw in a string it is a control
    // character), so a body holding one is refused as a whole.
    if (body.find('\0') != std::string_view::npos) {
        return std::nullopt;
    }
    try {
        StructureCheck check;
        if (!Json::sax_parse(body, &check)) {
            return std::nullopt;
        }
        const Json root = Json::parse(body, nullptr, /*allow_exceptions=*/false);
        if (!root.is_object()) { // also a discarded value after a parse error
            return std::nullopt;
        }
        const auto list = root.find("notifications");
        if (list == root.end() || !list->is_array()) {
            return std::nullopt;
        }
        DesktopNotificationsResponse response;
        response.notifications.reserve(list->size());
        for (const Json& element : *list) {
            std::optional<DesktopNotification> record = decodeNotification(element);
            if (!record) {
                return std::nullopt;
            }
            response.notifications.push_back(std::move(*record));
        }
        return response;
    } catch (...) {
        // Out of memory, or anything else the parser might raise: a body that does not decode.
        return std::nullopt;
    }
}

} // namespace quorvel

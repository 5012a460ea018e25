#include "platform/gtk/NotifyMessage.h"

#include "BuildConfig.h"

namespace quorvel::gtk {

namespace {

constexpr const char* kSoundName = "message-new-instant";
constexpr const char* kDefaultActionLabel = "打开";

// D-Bus strings must be valid UTF-8; invalid sequences become U+FFFD.
std::string validUtf8(const std::string& text) {
    gchar* valid = g_utf8_make_valid(text.c_str(), static_cast<gssize>(text.size()));
    std::string result = valid;
    g_free(valid);
    return result;
}

// The hints of one notification: the application and its sound.
GVariant* hintsFor(const NotificationRequest& request) {
    GVariantBuilder hints;
    g_variant_builder_init(&hints, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&hints, "{sv}", "desktop-entry",
                          g_variant_new_string(build::applicationId));
    if (request.defaultSound) {
        g_variant_builder_add(&hints, "{sv}", "sound-name", g_variant_new_string(kSoundName));
    } else {
        g_variant_builder_add(&hints, "{sv}", "suppress-sound", g_variant_new_boolean(TRUE));
    }
    return g_variant_builder_end(&hints);
}

} // namespace

std::string escapeMarkup(const std::string& text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '&':
            escaped += "&amp;";
            break;
        case '<':
            escaped += "&lt;";
            break;
        case '>':
            escaped += "&gt;";
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}

GVariant* notifyParameters(const NotificationRequest& request, bool bodyMayBeMarkup) {
    const std::string summary = validUtf8(request.title);
    const std::string body =
        bodyMayBeMarkup ? escapeMarkup(validUtf8(request.body)) : validUtf8(request.body);
    GVariantBuilder actions;
    g_variant_builder_init(&actions, G_VARIANT_TYPE("as"));
    g_variant_builder_add(&actions, "s", "default");
    g_variant_builder_add(&actions, "s", kDefaultActionLabel);
    return g_variant_new("(susssas@a{sv}i)", build::applicationName, guint32{0},
                         build::applicationId, summary.c_str(), body.c_str(), &actions,
                         hintsFor(request), gint32{-1});
}

} // namespace quorvel::gtk

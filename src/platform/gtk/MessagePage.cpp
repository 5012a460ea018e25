#include "platform/gtk/MessagePage.h"

#include <glib.h>

namespace quorvel::gtk {

namespace {

std::string escaped(const std::string& text) {
    char* markup = g_markup_escape_text(text.c_str(), static_cast<gssize>(text.size()));
    std::string result = markup;
    g_free(markup);
    return result;
}

// The text as markup, its line breaks kept.
std::string escapedLines(const std::string& text) {
    std::string result;
    std::string::size_type start = 0;
    for (;;) {
        const auto end = text.find('\n', start);
        result += escaped(text.substr(start, end - start));
        if (end == std::string::npos) {
            return result;
        }
        result += "<br>";
        start = end + 1;
    }
}

} // namespace

std::string messagePageHtml(const std::string& title, const std::string& text) {
    const std::string safeTitle = escaped(title);
    return "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">"
           "<meta name=\"color-scheme\" content=\"light dark\"><title>" +
           safeTitle +
           "</title><style>"
           ":root{color-scheme:light dark}"
           "html,body{height:100%;margin:0}"
           "body{display:flex;align-items:center;justify-content:center;"
           "font:15px/1.6 system-ui,sans-serif;background:Canvas;color:CanvasText}"
           "main{max-width:36em;padding:2em;text-align:center}"
           "h1{font-size:1.4em;font-weight:600;margin:0 0 .8em}"
           "p{margin:0;opacity:.8}"
           "</style></head><body><main><h1>" +
           safeTitle + "</h1><p>" + escapedLines(text) + "</p></main></body></html>";
}

} // namespace quorvel::gtk

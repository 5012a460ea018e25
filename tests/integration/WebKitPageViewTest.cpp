#include "platform/gtk/WebKitPageView.h"

#include "integration/LoopbackHttpServer.h"
#include "platform/gtk/MainLoop.h"

#include <chrono>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <webkit2/webkit2.h>

namespace quorvel::gtk {
namespace {

using std::chrono::steady_clock;

class CountingNavigationDelegate final : public WebViewNavigationDelegate {
public:
    void webViewDidFinishNavigation() override { ++finished; }
    int finished = 0;
};

test::ScriptedResponse page(const std::string& title) {
    auto response = test::ScriptedResponse::withStatus(
        200, "<html><head><title>" + title + "</title></head><body>" + title + "</body></html>");
    // Fresh for an hour: a cache may answer with it instead of asking again.
    response.headers = {{"Content-Type", "text/html; charset=utf-8"},
                        {"Cache-Control", "max-age=3600"}};
    return response;
}

// The real web view, loading from a loopback server.
class WebKitPageViewTest : public testing::Test {
protected:
    void SetUp() override {
        view_.setNavigationDelegate(&navigation_);
        g_signal_connect(view_.widget(), "load-failed",
                         G_CALLBACK(+[](GtkWidget*, int, const char*, GError*, gpointer failures) {
                             ++*static_cast<int*>(failures);
                             return FALSE;
                         }),
                         &failures_);
    }

    WebKitWebView* engine() const { return WEBKIT_WEB_VIEW(view_.widget()); }

    // Waits until no load is under way, and a little longer, so that a late
    // callback would be seen.
    bool settle(double seconds = 10.0) { return settle(view_, seconds); }
    static bool settle(const WebKitPageView& view, double seconds = 10.0) {
        auto* engine = WEBKIT_WEB_VIEW(view.widget());
        gtk::iterateMainLoopUntil([] { return false; }, 0.2);
        const bool idle =
            gtk::iterateMainLoopUntil([&] { return !webkit_web_view_is_loading(engine); }, seconds);
        gtk::iterateMainLoopUntil([] { return false; }, 0.5);
        return idle && !webkit_web_view_is_loading(engine);
    }

    // The text the page shows.
    std::string bodyText() {
        std::optional<std::string> text;
        webkit_web_view_evaluate_javascript(
            engine(), "document.body ? document.body.innerText : ''", -1, nullptr, nullptr, nullptr,
            +[](GObject* source, GAsyncResult* result, gpointer data) {
                auto& out = *static_cast<std::optional<std::string>*>(data);
                JSCValue* value = webkit_web_view_evaluate_javascript_finish(
                    WEBKIT_WEB_VIEW(source), result, nullptr);
                out = "";
                if (value != nullptr) {
                    char* string = jsc_value_to_string(value);
                    out = string;
                    g_free(string);
                    g_object_unref(value);
                }
            },
            &text);
        gtk::iterateMainLoopUntil([&] { return text.has_value(); }, 10.0);
        return text.value_or("");
    }

    test::LoopbackHttpServer server_;
    WebKitPageView view_;
    CountingNavigationDelegate navigation_;
    int failures_ = 0;
};

TEST_F(WebKitPageViewTest, AFailedLoadNeverFinishesAndTheNextLiveOneFinishesOnce) {
    const std::string refused =
        "http://127.0.0.1:" + std::to_string(test::LoopbackHttpServer::closedPort()) + "/";
    view_.load(PageRequest{refused, CachePolicy::ReloadIgnoringLocalCacheData, 60.0});
    ASSERT_TRUE(settle());
    EXPECT_EQ(failures_, 1);
    EXPECT_EQ(navigation_.finished, 0);
    // The engine's error page stays, telling what went wrong.
    EXPECT_NE(bodyText().find("Connection refused"), std::string::npos);

    server_.route("/", page("live"));
    view_.load(PageRequest{server_.baseUrl() + "/", CachePolicy::UseProtocolCachePolicy, 60.0});
    ASSERT_TRUE(settle());
    EXPECT_EQ(navigation_.finished, 1);
    EXPECT_STREQ(webkit_web_view_get_title(engine()), "live");
}

TEST_F(WebKitPageViewTest, ADirectLoadIsNotAnsweredFromTheCache) {
    const std::string url = server_.baseUrl() + "/";
    server_.route("/", page("first"));
    view_.load(PageRequest{url, CachePolicy::UseProtocolCachePolicy, 60.0});
    ASSERT_TRUE(settle());
    ASSERT_STREQ(webkit_web_view_get_title(engine()), "first");

    // The page changes; the next start loads it directly into a new view.
    server_.route("/", page("second"));
    WebKitPageView next;
    next.load(PageRequest{url, CachePolicy::ReloadIgnoringLocalCacheData, 60.0});
    ASSERT_TRUE(settle(next));
    EXPECT_STREQ(webkit_web_view_get_title(WEBKIT_WEB_VIEW(next.widget())), "second");
}

TEST_F(WebKitPageViewTest, ALoadWithoutAnAnswerIsStoppedAsAFailureAfterItsTimeOut) {
    server_.route("/silent", test::ScriptedResponse::neverAnswer());
    const auto started = steady_clock::now();
    view_.load(PageRequest{server_.url("/silent"), CachePolicy::ReloadIgnoringLocalCacheData, 1.0});
    ASSERT_TRUE(settle(8.0)) << "the load still hangs";
    EXPECT_LT(steady_clock::now() - started, std::chrono::seconds(4));
    EXPECT_EQ(failures_, 1);
    EXPECT_EQ(navigation_.finished, 0);

    server_.route("/", page("live"));
    view_.load(PageRequest{server_.baseUrl() + "/", CachePolicy::UseProtocolCachePolicy, 60.0});
    ASSERT_TRUE(settle());
    EXPECT_EQ(navigation_.finished, 1);
}

} // namespace
} // namespace quorvel::gtk

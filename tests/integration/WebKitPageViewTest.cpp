#include "platform/gtk/WebKitPageView.h"

#include "integration/LoopbackHttpServer.h"
#include "integration/MainLoop.h"
#include "platform/gtk/WebEngine.h"

#include <chrono>
#include <csignal>
#include <dirent.h>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>
#include <webkit2/webkit2.h>

namespace quorvel::gtk {
namespace {

using std::chrono::steady_clock;

using Headers = std::vector<std::pair<std::string, std::string>>;

class CountingNavigationDelegate final : public WebViewNavigationDelegate {
public:
    void webViewDidFinishNavigation() override { ++finished; }
    void webViewDidFailNavigation() override { ++failed; }
    bool webViewShouldAcceptResponse(const Headers& headers) override {
        ++asked;
        for (const auto& [name, value] : headers) {
            if (name == "X-Refuse") {
                return false;
            }
        }
        return true;
    }
    void webViewWebContentProcessDidTerminate(WebProcessTermination reason) override {
        terminations.push_back(reason);
    }
    int finished = 0;
    int failed = 0;
    int asked = 0;
    std::vector<WebProcessTermination> terminations;
};

test::ScriptedResponse page(const std::string& title) {
    auto response = test::ScriptedResponse::withStatus(
        200, "<html><head><title>" + title + "</title></head><body>" + title + "</body></html>");
    // Fresh for an hour: a cache may answer with it instead of asking again.
    response.headers = {{"Content-Type", "text/html; charset=utf-8"},
                        {"Cache-Control", "max-age=3600"}};
    return response;
}

// The engine's web processes among the descendants of this process.
std::vector<pid_t> webProcesses() {
    std::map<pid_t, std::vector<pid_t>> children;
    std::map<pid_t, std::string> names;
    if (DIR* proc = opendir("/proc")) {
        while (const dirent* entry = readdir(proc)) {
            const pid_t pid = static_cast<pid_t>(std::atoi(entry->d_name));
            std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
            std::string line;
            if (pid <= 0 || !std::getline(stat, line) || line.rfind(')') == std::string::npos) {
                continue;
            }
            // "pid (name) state ppid ...", the name possibly with spaces.
            const auto open = line.find('('), close = line.rfind(')');
            names[pid] = line.substr(open + 1, close - open - 1);
            children[static_cast<pid_t>(std::atoi(line.c_str() + close + 4))].push_back(pid);
        }
        closedir(proc);
    }
    std::vector<pid_t> found;
    std::vector<pid_t> pending{getpid()};
    while (!pending.empty()) {
        const pid_t parent = pending.back();
        pending.pop_back();
        for (const pid_t child : children[parent]) {
            if (names[child].rfind("WebKitWebProces", 0) == 0) {
                found.push_back(child);
            }
            pending.push_back(child);
        }
    }
    return found;
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
    WebEngine engine_;
    WebKitPageView view_{engine_};
    CountingNavigationDelegate navigation_;
    int failures_ = 0;
};

TEST_F(WebKitPageViewTest, AFailedLoadNeverFinishesAndTheNextLiveOneFinishesOnce) {
    const std::string refused =
        "http://127.0.0.1:" + std::to_string(test::LoopbackHttpServer::closedPort()) + "/";
    view_.load(PageRequest{refused, CachePolicy::ReloadIgnoringLocalCacheData, 60.0});
    ASSERT_TRUE(settle());
    EXPECT_EQ(failures_, 1);
    EXPECT_EQ(navigation_.failed, 1) << "the error page's own load counts too, or not at all";
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
    WebKitPageView next(engine_);
    next.load(PageRequest{url, CachePolicy::ReloadIgnoringLocalCacheData, 60.0});
    ASSERT_TRUE(settle(next));
    EXPECT_STREQ(webkit_web_view_get_title(WEBKIT_WEB_VIEW(next.widget())), "second");
}

// The local service's token reaches it with the page and with the page's
// own requests, without the page being able to read it.
TEST_F(WebKitPageViewTest, TheCookieSetBeforeTheLoadGoesWithThePageAndItsRequests) {
    auto withScript = test::ScriptedResponse::withStatus(
        200, "<html><body><script>fetch('/api/overview').then(() => "
             "document.title = 'cookies:' + document.cookie)</script></body></html>");
    withScript.headers = {{"Content-Type", "text/html; charset=utf-8"}};
    server_.route("/", withScript);
    server_.route("/api/overview", test::ScriptedResponse::withStatus(200, "{}"));
    bool stored = false;
    view_.setCookie(server_.baseUrl(), "quorvel_service_token_1", "s3cret",
                    [&stored] { stored = true; });
    ASSERT_TRUE(gtk::iterateMainLoopUntil([&] { return stored; }, 10.0));
    view_.load(PageRequest{server_.baseUrl() + "/", CachePolicy::UseProtocolCachePolicy, 60.0});
    ASSERT_TRUE(gtk::iterateMainLoopUntil(
        [&] {
            const char* title = webkit_web_view_get_title(engine());
            return title != nullptr && std::string(title) == "cookies:";
        },
        10.0));
    const auto requests = server_.requests();
    ASSERT_EQ(requests.size(), 2u);
    for (const auto& request : requests) {
        EXPECT_EQ(request.header("Cookie"), "quorvel_service_token_1=s3cret") << request.target;
    }
}

TEST_F(WebKitPageViewTest, ALoadWithoutAnAnswerIsStoppedAsAFailureAfterItsTimeOut) {
    server_.route("/silent", test::ScriptedResponse::neverAnswer());
    const auto started = steady_clock::now();
    view_.load(PageRequest{server_.url("/silent"), CachePolicy::ReloadIgnoringLocalCacheData, 1.0});
    ASSERT_TRUE(settle(8.0)) << "the load still hangs";
    EXPECT_LT(steady_clock::now() - started, std::chrono::seconds(4));
    EXPECT_EQ(failures_, 1);
    EXPECT_EQ(navigation_.failed, 1);
    EXPECT_EQ(navigation_.finished, 0);

    server_.route("/", page("live"));
    view_.load(PageRequest{server_.baseUrl() + "/", CachePolicy::UseProtocolCachePolicy, 60.0});
    ASSERT_TRUE(settle());
    EXPECT_EQ(navigation_.finished, 1);
}

TEST_F(WebKitPageViewTest, AnAnswerTheDelegateRefusesIsNotShownAndFailsOnce) {
    auto refused = page("refused");
    refused.headers.emplace_back("X-Refuse", "yes");
    server_.route("/refused", refused);
    view_.load(
        PageRequest{server_.url("/refused"), CachePolicy::ReloadIgnoringLocalCacheData, 60.0});
    ASSERT_TRUE(settle());
    EXPECT_EQ(navigation_.asked, 1);
    EXPECT_EQ(navigation_.failed, 1);
    EXPECT_EQ(navigation_.finished, 0);
    const char* title = webkit_web_view_get_title(engine());
    EXPECT_EQ(std::string(title ? title : ""), "");
    EXPECT_EQ(bodyText().find("refused"), std::string::npos);

    server_.route("/", page("live"));
    view_.load(PageRequest{server_.baseUrl() + "/", CachePolicy::UseProtocolCachePolicy, 60.0});
    ASSERT_TRUE(settle());
    EXPECT_EQ(navigation_.asked, 2);
    EXPECT_EQ(navigation_.failed, 1);
    EXPECT_EQ(navigation_.finished, 1);
    EXPECT_STREQ(webkit_web_view_get_title(engine()), "live");
}

// The message page replaces a load still waiting for its answer; neither that
// load (not even its time-out) nor the page reports anything, and a reload
// goes back to the page asked for.
TEST_F(WebKitPageViewTest, TheMessagePageReportsNothingAndAReloadLeavesIt) {
    server_.route("/page", test::ScriptedResponse::neverAnswer());
    view_.load(PageRequest{server_.url("/page"), CachePolicy::ReloadIgnoringLocalCacheData, 1.0});
    ASSERT_TRUE(gtk::iterateMainLoopUntil([&] { return server_.requestCount() == 1; }, 10.0));
    gtk::iterateMainLoopUntil([] { return false; }, 0.2);
    view_.showMessagePage("<服务> & \"标题\"", "第一行 <b>粗</b>\n第二行");
    gtk::iterateMainLoopUntil([] { return false; }, 1.5);
    ASSERT_TRUE(settle());
    EXPECT_EQ(navigation_.failed, 0);
    EXPECT_EQ(navigation_.finished, 0);
    EXPECT_EQ(navigation_.asked, 0);
    EXPECT_STREQ(webkit_web_view_get_title(engine()), "<服务> & \"标题\"");
    EXPECT_NE(bodyText().find("第一行 <b>粗</b>\n第二行"), std::string::npos) << bodyText();

    server_.route("/page", page("live"));
    view_.reload();
    ASSERT_TRUE(settle());
    EXPECT_EQ(navigation_.finished, 1);
    EXPECT_STREQ(webkit_web_view_get_title(engine()), "live");
}

TEST_F(WebKitPageViewTest, TheEndOfThePagesProcessIsReportedWithItsReason) {
    server_.route("/", page("live"));
    const PageRequest live{server_.baseUrl() + "/", CachePolicy::UseProtocolCachePolicy, 60.0};
    view_.load(live);
    ASSERT_TRUE(settle());
    webkit_web_view_terminate_web_process(engine());
    ASSERT_TRUE(
        gtk::iterateMainLoopUntil([&] { return navigation_.terminations.size() == 1; }, 10.0));
    EXPECT_EQ(navigation_.terminations[0], WebProcessTermination::RequestedByApplication);

    view_.load(live);
    ASSERT_TRUE(settle());
    ASSERT_EQ(navigation_.finished, 2);
    const std::vector<pid_t> processes = webProcesses();
    ASSERT_FALSE(processes.empty());
    for (const pid_t process : processes) {
        kill(process, SIGKILL);
    }
    ASSERT_TRUE(
        gtk::iterateMainLoopUntil([&] { return navigation_.terminations.size() == 2; }, 10.0));
    EXPECT_EQ(navigation_.terminations[1], WebProcessTermination::Crashed);
    EXPECT_EQ(navigation_.failed, 0);
}

} // namespace
} // namespace quorvel::gtk

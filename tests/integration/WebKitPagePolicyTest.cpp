#include "integration/LoopbackHttpServer.h"
#include "integration/MainLoop.h"
#include "platform/gtk/WebEngine.h"
#include "platform/gtk/WebKitPageView.h"

#include <filesystem>
#include <fstream>
#include <gdk/gdk.h>
#include <gtest/gtest.h>
#include <unistd.h>
#include <webkit2/webkit2.h>

namespace quorvel::gtk {
namespace {

namespace fs = std::filesystem;

// Lets the service's own origin load and refuses the rest, and records what
// it was told.
class RecordingPolicyDelegate final : public WebViewNavigationDelegate {
public:
    explicit RecordingPolicyDelegate(std::string serviceBase) : base(std::move(serviceBase)) {}
    void webViewDidFinishNavigation() override { ++finished; }
    void webViewDidFailNavigation() override { ++failed; }
    bool
    webViewShouldAcceptResponse(const std::vector<std::pair<std::string, std::string>>&) override {
        return true;
    }
    void webViewWebContentProcessDidTerminate(WebProcessTermination reason) override {
        terminations.push_back(reason);
    }
    bool webViewShouldStartNavigation(const NavigationAction& action) override {
        const bool own = action.url.rfind(base, 0) == 0;
        if (!own || action.newWindow) {
            actions.push_back(action);
        }
        return own;
    }
    void webViewWebContentProcessResponsivenessChanged(bool responsive) override {
        responsiveness.push_back(responsive);
    }
    void webViewDidRefuseAuthentication(const std::string&) override { ++refusedAuthentications; }
    bool webViewShouldAllowDownload(const std::string& url) override {
        return url.rfind(base, 0) == 0;
    }
    std::optional<fs::path> webViewDownloadDestination(const std::string&,
                                                       const std::string& suggested) override {
        suggestedName = suggested;
        return folder / (suggested + ".part");
    }
    void webViewDownloadDidFinish(const fs::path& destination) override {
        finishedDownloads.push_back(destination);
    }
    void webViewDownloadDidFail(const fs::path& destination, const std::string&) override {
        failedDownloads.push_back(destination);
    }

    std::string base;
    fs::path folder;
    int finished = 0;
    int failed = 0;
    int refusedAuthentications = 0;
    std::vector<NavigationAction> actions;
    std::vector<bool> responsiveness;
    std::vector<WebProcessTermination> terminations;
    std::string suggestedName;
    std::vector<fs::path> finishedDownloads, failedDownloads;
};

test::ScriptedResponse html(const std::string& body) {
    auto response = test::ScriptedResponse::withStatus(
        200, "<html><head><title>service</title></head><body style='margin:0'>" + body +
                 "</body></html>");
    response.headers = {{"Content-Type", "text/html; charset=utf-8"}};
    return response;
}

// A link over the whole page, so that a click anywhere follows it.
std::string wholePageLink(const std::string& href, const std::string& extra = {}) {
    return "<a id='l' href='" + href + "' " + extra +
           " style='display:block;width:100vw;height:100vh'>link</a>";
}

class WebKitPagePolicyTest : public testing::Test {
protected:
    void SetUp() override {
        view_.setNavigationDelegate(&delegate_);
        window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        gtk_window_set_default_size(GTK_WINDOW(window_), 600, 400);
        gtk_container_add(GTK_CONTAINER(window_), view_.widget());
        gtk_widget_show_all(window_);
        other_.setDefaultResponse(html("other"));
        delegate_.folder = fs::temp_directory_path() / ("quorvel-dl-" + std::to_string(getpid()));
        fs::create_directories(delegate_.folder);
    }
    void TearDown() override {
        gtk_container_remove(GTK_CONTAINER(window_), view_.widget());
        gtk_widget_destroy(window_);
        fs::remove_all(delegate_.folder);
    }

    void loadService(const std::string& body) {
        service_.route("/", html(body));
        view_.load(PageRequest{service_.url("/"), CachePolicy::ReloadIgnoringLocalCacheData, 60.0});
        ASSERT_TRUE(iterateMainLoopUntil([&] { return delegate_.finished == 1; }, 20.0));
        wait(0.5);
    }
    // A real click in the middle of the view, as the user makes it.
    void click() {
        GdkWindow* window = gtk_widget_get_window(view_.widget());
        ASSERT_NE(window, nullptr);
        GdkDevice* pointer =
            gdk_seat_get_pointer(gdk_display_get_default_seat(gdk_display_get_default()));
        for (const GdkEventType type : {GDK_BUTTON_PRESS, GDK_BUTTON_RELEASE}) {
            GdkEvent* event = gdk_event_new(type);
            event->button.window = GDK_WINDOW(g_object_ref(window));
            event->button.time = GDK_CURRENT_TIME;
            event->button.x = gtk_widget_get_allocated_width(view_.widget()) / 2.0;
            event->button.y = gtk_widget_get_allocated_height(view_.widget()) / 2.0;
            event->button.button = 1;
            gdk_event_set_device(event, pointer);
            gtk_main_do_event(event);
            gdk_event_free(event);
        }
    }
    // Hands `event` to the view straight away, from the default seat's
    // keyboard or pointer as its type says, and frees it.
    void sendToView(GdkEvent* event) {
        GdkSeat* seat = gdk_display_get_default_seat(gdk_display_get_default());
        const bool key = event->type == GDK_KEY_PRESS || event->type == GDK_KEY_RELEASE;
        event->any.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(view_.widget())));
        gdk_event_set_device(event, key ? gdk_seat_get_keyboard(seat) : gdk_seat_get_pointer(seat));
        gtk_widget_event(view_.widget(), event);
        gdk_event_free(event);
    }
    void wait(double seconds) {
        iterateMainLoopUntil([] { return false; }, seconds);
    }

    test::LoopbackHttpServer service_;
    test::LoopbackHttpServer other_;
    RecordingPolicyDelegate delegate_{service_.baseUrl()};
    WebEngine engine_;
    WebKitPageView view_{engine_};
    GtkWidget* window_ = nullptr;
};

// Subframes are judged too: the engine does not tell them apart.
TEST_F(WebKitPagePolicyTest, AnotherOriginIsAskedForWithWhoStartedItAndNeverRequested) {
    const std::string away = other_.url("/away");
    loadService(wholePageLink(away) + "<iframe src='" + other_.url("/frame") +
                "'></iframe><script>setTimeout(() => location = '" + other_.url("/script") +
                "', 300)</script>");
    ASSERT_TRUE(iterateMainLoopUntil([&] { return delegate_.actions.size() == 2; }, 10.0));
    EXPECT_EQ(delegate_.actions[0].url, other_.url("/frame"));
    EXPECT_EQ(delegate_.actions[1].url, other_.url("/script"));
    EXPECT_FALSE(delegate_.actions[1].userInitiated);

    click();
    ASSERT_TRUE(iterateMainLoopUntil([&] { return delegate_.actions.size() == 3; }, 10.0));
    EXPECT_EQ(delegate_.actions[2].url, away);
    EXPECT_TRUE(delegate_.actions[2].userInitiated);
    EXPECT_FALSE(delegate_.actions[2].newWindow);
    wait(0.5);
    EXPECT_EQ(other_.requestCount(), 0u);
    EXPECT_EQ(delegate_.failed, 0);
    EXPECT_EQ(delegate_.finished, 1);
    EXPECT_STREQ(webkit_web_view_get_uri(WEBKIT_WEB_VIEW(view_.widget())),
                 service_.url("/").c_str());
}

// A window the page opens without a click the engine itself blocks.
TEST_F(WebKitPagePolicyTest, NewWindowsAreAskedForAndASameOriginOneLoadsInTheView) {
    loadService(wholePageLink(other_.url("/blank"), "target='_blank'") + "<script>window.open('" +
                other_.url("/popup") + "')</script>");
    click();
    ASSERT_TRUE(iterateMainLoopUntil([&] { return delegate_.actions.size() == 1; }, 10.0));
    EXPECT_EQ(delegate_.actions[0].url, other_.url("/blank"));
    EXPECT_TRUE(delegate_.actions[0].userInitiated);
    EXPECT_TRUE(delegate_.actions[0].newWindow);

    delegate_.finished = 0;
    service_.route("/opened", html("opened"));
    loadService("<div style='width:100vw;height:100vh' onclick=\"window.open('" +
                service_.url("/opened") + "')\">x</div>");
    click();
    ASSERT_TRUE(iterateMainLoopUntil([&] { return delegate_.finished == 2; }, 10.0));
    ASSERT_EQ(delegate_.actions.size(), 2u);
    EXPECT_EQ(delegate_.actions[1].url, service_.url("/opened"));
    EXPECT_TRUE(delegate_.actions[1].userInitiated);
    EXPECT_TRUE(delegate_.actions[1].newWindow);
    EXPECT_STREQ(webkit_web_view_get_uri(WEBKIT_WEB_VIEW(view_.widget())),
                 service_.url("/opened").c_str());
    EXPECT_EQ(other_.requestCount(), 0u);
}

TEST_F(WebKitPagePolicyTest, ADownloadGoesWhereTheDelegateSaysAndIsReportedOnce) {
    auto attachment = test::ScriptedResponse::withStatus(200, "price,1800\n");
    attachment.headers = {{"Content-Type", "text/csv"},
                          {"Content-Disposition", "attachment; filename=\"notes.txt\""}};
    service_.route("/export", attachment);
    loadService("<script>setTimeout(() => location = '/export', 100)</script>");
    ASSERT_TRUE(
        iterateMainLoopUntil([&] { return delegate_.finishedDownloads.size() == 1; }, 20.0));
    EXPECT_EQ(delegate_.suggestedName, "notes.txt");
    const fs::path written = delegate_.folder / "notes.txt.part";
    EXPECT_EQ(delegate_.finishedDownloads[0], written);
    std::ifstream in(written);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "price,1800\n");
    EXPECT_TRUE(delegate_.failedDownloads.empty());
    EXPECT_EQ(delegate_.failed, 0);
}

TEST_F(WebKitPagePolicyTest, AnAuthenticationChallengeIsRefusedAndItsAnswerShown) {
    auto challenge = test::ScriptedResponse::withStatus(401, "<title>401</title>no entry");
    challenge.headers = {{"Content-Type", "text/html"}, {"WWW-Authenticate", "Basic realm=\"q\""}};
    service_.route("/", challenge);
    view_.load(PageRequest{service_.url("/"), CachePolicy::ReloadIgnoringLocalCacheData, 60.0});
    ASSERT_TRUE(iterateMainLoopUntil([&] { return delegate_.finished == 1; }, 20.0));
    EXPECT_EQ(delegate_.refusedAuthentications, 1);
    wait(0.5);
    EXPECT_STREQ(webkit_web_view_get_title(WEBKIT_WEB_VIEW(view_.widget())), "401");
}

TEST_F(WebKitPagePolicyTest, AltLeftAndTheMouseBackButtonGoBackWithinTheService) {
    service_.route("/second", html("second"));
    loadService("first");
    view_.load(PageRequest{service_.url("/second"), CachePolicy::UseProtocolCachePolicy, 60.0});
    ASSERT_TRUE(iterateMainLoopUntil([&] { return delegate_.finished == 2; }, 10.0));
    auto* engine = WEBKIT_WEB_VIEW(view_.widget());
    GdkEvent* key = gdk_event_new(GDK_KEY_PRESS);
    key->key.keyval = GDK_KEY_Left;
    key->key.state = GDK_MOD1_MASK;
    sendToView(key);
    ASSERT_TRUE(iterateMainLoopUntil([&] { return delegate_.finished == 3; }, 10.0));
    EXPECT_STREQ(webkit_web_view_get_uri(engine), service_.url("/").c_str());

    GdkEvent* button = gdk_event_new(GDK_BUTTON_PRESS);
    button->button.button = 9;
    sendToView(button);
    ASSERT_TRUE(iterateMainLoopUntil([&] { return delegate_.finished == 4; }, 10.0));
    EXPECT_STREQ(webkit_web_view_get_uri(engine), service_.url("/second").c_str());
}

// The page asks before it is left once the user has done something in it;
// the application's own reload leaves it without a question.
TEST_F(WebKitPagePolicyTest, TheApplicationsReloadDoesNotAskThePageWhetherToLeave) {
    loadService("<div style='width:100vw;height:100vh'>x</div><script>addEventListener("
                "'beforeunload', (e) => { e.preventDefault(); e.returnValue = 'stay'; })</script>");
    click();
    wait(0.3);
    view_.reload();
    EXPECT_TRUE(iterateMainLoopUntil([&] { return delegate_.finished == 2; }, 10.0));
}

TEST_F(WebKitPagePolicyTest, ABusyPageIsReportedUnresponsiveAndCanBeEnded) {
    loadService("<script>setTimeout(() => { for (;;) {} }, 200)</script>");
    wait(0.5);
    // Input the page cannot take makes the engine notice.
    for (int i = 0; i < 40 && delegate_.responsiveness.empty(); ++i) {
        click();
        wait(0.5);
    }
    ASSERT_FALSE(delegate_.responsiveness.empty());
    EXPECT_FALSE(delegate_.responsiveness.back());
    view_.terminateWebProcess();
    ASSERT_TRUE(iterateMainLoopUntil([&] { return delegate_.terminations.size() == 1; }, 10.0));
    EXPECT_EQ(delegate_.terminations[0], WebProcessTermination::RequestedByApplication);
}

} // namespace
} // namespace quorvel::gtk

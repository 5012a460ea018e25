#include "platform/gtk/DBusNotificationCenter.h"

#include "integration/MainLoop.h"
#include "integration/PrivateBus.h"
#include "platform/gtk/PosixProcessLauncher.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gio/gio.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace quorvel {
namespace {

using testing::ElementsAre;
using testing::HasSubstr;

constexpr unsigned kDoNotQueue = 4;   // DBUS_NAME_FLAG_DO_NOT_QUEUE
constexpr unsigned kPrimaryOwner = 1; // RequestName reply

constexpr const char* kServerXml = R"(<node>
  <interface name="org.freedesktop.Notifications">
    <method name="GetCapabilities"><arg direction="out" type="as"/></method>
    <method name="GetServerInformation">
      <arg direction="out" type="s"/><arg direction="out" type="s"/>
      <arg direction="out" type="s"/><arg direction="out" type="s"/>
    </method>
    <method name="Notify">
      <arg direction="in" type="s"/><arg direction="in" type="u"/>
      <arg direction="in" type="s"/><arg direction="in" type="s"/>
      <arg direction="in" type="s"/><arg direction="in" type="as"/>
      <arg direction="in" type="a{sv}"/><arg direction="in" type="i"/>
      <arg direction="out" type="u"/>
    </method>
    <method name="CloseNotification"><arg direction="in" type="u"/></method>
    <signal name="ActionInvoked"><arg type="u"/><arg type="s"/></signal>
    <signal name="ActivationToken"><arg type="u"/><arg type="s"/></signal>
    <signal name="NotificationClosed"><arg type="u"/><arg type="u"/></signal>
  </interface>
</node>)";

std::string takeString(char* text) {
    std::string result = text != nullptr ? text : "";
    g_free(text);
    return result;
}

// A notification server driven by the test: it owns
// org.freedesktop.Notifications on the session bus over a connection of its
// own, records every Notify call and sends the signals the test asks for. It
// answers on the main loop, so the test iterates the loop while it waits.
class FakeNotificationServer {
public:
    struct Notification {
        std::string appName;
        std::uint32_t replacesId = 0;
        std::string icon;
        std::string summary;
        std::string body;
        std::vector<std::string> actions;
        std::map<std::string, std::string> hints; // value printed in GVariant text form
        std::int32_t expireTimeout = 0;
        std::uint32_t id = 0;
    };

    explicit FakeNotificationServer(std::vector<std::string> capabilities = {"actions", "body"})
        : capabilities_(std::move(capabilities)) {
        connection_ = test::connectToPrivateBus("DBUS_SESSION_BUS_ADDRESS", "session bus");
        if (connection_ == nullptr) {
            return;
        }
        GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kServerXml, nullptr);
        static const GDBusInterfaceVTable vtable{
            &FakeNotificationServer::onMethodCall, nullptr, nullptr, {}};
        registration_ = g_dbus_connection_register_object(
            connection_, "/org/freedesktop/Notifications",
            g_dbus_node_info_lookup_interface(node, "org.freedesktop.Notifications"), &vtable, this,
            nullptr, nullptr);
        g_dbus_node_info_unref(node);

        GError* error = nullptr;
        GVariant* reply = g_dbus_connection_call_sync(
            connection_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
            "RequestName", g_variant_new("(su)", "org.freedesktop.Notifications", kDoNotQueue),
            nullptr, G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, &error);
        if (reply == nullptr) {
            ADD_FAILURE() << "RequestName failed: " << error->message;
            g_error_free(error);
            return;
        }
        unsigned answer = 0;
        g_variant_get(reply, "(u)", &answer);
        g_variant_unref(reply);
        ownsName_ = answer == kPrimaryOwner;
        EXPECT_TRUE(ownsName_) << "org.freedesktop.Notifications is owned by someone else";
    }

    ~FakeNotificationServer() {
        for (auto& held : held_) {
            if (held->timer != 0) {
                g_source_remove(held->timer);
            }
            g_dbus_method_invocation_return_dbus_error(
                held->invocation, "org.freedesktop.DBus.Error.NoReply", "server stopped");
            g_variant_unref(held->parameters);
        }
        if (connection_ == nullptr) {
            return;
        }
        g_dbus_connection_unregister_object(connection_, registration_);
        // Closing the connection releases the name.
        g_dbus_connection_close_sync(connection_, nullptr, nullptr);
        g_object_unref(connection_);
    }

    FakeNotificationServer(const FakeNotificationServer&) = delete;
    FakeNotificationServer& operator=(const FakeNotificationServer&) = delete;

    bool ownsName() const { return ownsName_; }
    const std::vector<Notification>& notifications() const { return notifications_; }
    int capabilityQueries() const { return capabilityQueries_; }
    // The next Notify call is answered with this D-Bus error.
    void failNextNotify(std::string message) { failNext_ = std::move(message); }
    // GetCapabilities is answered with an error.
    void failGetCapabilities() { failCapabilities_ = true; }
    // Calls of `method` are answered this much later; kNever: not at all
    // while the server runs.
    static constexpr std::chrono::milliseconds kNever{-1};
    void answerLate(const std::string& method, std::chrono::milliseconds delay) {
        delays_[method] = delay;
    }
    // The ids of CloseNotification calls, in order.
    const std::vector<std::uint32_t>& closed() const { return closed_; }
    int notifyCalls() const { return notifyCalls_; }

    void emitActionInvoked(std::uint32_t id, const char* action) {
        g_dbus_connection_emit_signal(connection_, nullptr, "/org/freedesktop/Notifications",
                                      "org.freedesktop.Notifications", "ActionInvoked",
                                      g_variant_new("(us)", id, action), nullptr);
    }

    void emitActivationToken(std::uint32_t id, const char* token) {
        g_dbus_connection_emit_signal(connection_, nullptr, "/org/freedesktop/Notifications",
                                      "org.freedesktop.Notifications", "ActivationToken",
                                      g_variant_new("(us)", id, token), nullptr);
    }

    void emitNotificationClosed(std::uint32_t id) {
        g_dbus_connection_emit_signal(connection_, nullptr, "/org/freedesktop/Notifications",
                                      "org.freedesktop.Notifications", "NotificationClosed",
                                      g_variant_new("(uu)", id, 2u), nullptr);
    }

private:
    static void onMethodCall(GDBusConnection*, const char*, const char*, const char*,
                             const char* method, GVariant* parameters,
                             GDBusMethodInvocation* invocation, void* data) {
        auto& self = *static_cast<FakeNotificationServer*>(data);
        const std::string name = method;
        if (name == "Notify") {
            ++self.notifyCalls_;
        }
        const auto delay = self.delays_.find(name);
        if (delay != self.delays_.end() && delay->second.count() != 0) {
            auto held =
                std::make_unique<Held>(Held{&self, name, g_variant_ref(parameters), invocation, 0});
            if (delay->second != kNever) {
                held->timer = g_timeout_add(
                    static_cast<guint>(delay->second.count()),
                    [](gpointer late) -> gboolean {
                        auto* call = static_cast<Held*>(late);
                        call->timer = 0;
                        call->server->answerHeld(call);
                        return G_SOURCE_REMOVE;
                    },
                    held.get());
            }
            self.held_.push_back(std::move(held));
            return;
        }
        self.answer(name, parameters, invocation);
    }

    struct Held {
        FakeNotificationServer* server;
        std::string method;
        GVariant* parameters;
        GDBusMethodInvocation* invocation;
        guint timer;
    };

    void answerHeld(Held* call) {
        answer(call->method, call->parameters, call->invocation);
        g_variant_unref(call->parameters);
        std::erase_if(held_, [call](const auto& held) { return held.get() == call; });
    }

    void answer(const std::string& name, GVariant* parameters, GDBusMethodInvocation* invocation) {
        auto& self = *this;
        if (name == "GetCapabilities" && failCapabilities_) {
            g_dbus_method_invocation_return_dbus_error(
                invocation, "org.freedesktop.DBus.Error.Failed", "no capabilities today");
        } else if (name == "GetCapabilities") {
            ++self.capabilityQueries_;
            std::vector<const char*> list;
            for (const auto& capability : self.capabilities_) {
                list.push_back(capability.c_str());
            }
            list.push_back(nullptr);
            g_dbus_method_invocation_return_value(invocation, g_variant_new("(^as)", list.data()));
        } else if (name == "GetServerInformation") {
            g_dbus_method_invocation_return_value(
                invocation, g_variant_new("(ssss)", "fake", "quorvel tests", "1", "1.2"));
        } else if (name == "Notify") {
            self.recordNotify(parameters, invocation);
        } else if (name == "CloseNotification") {
            std::uint32_t id = 0;
            g_variant_get(parameters, "(u)", &id);
            self.closed_.push_back(id);
            g_dbus_method_invocation_return_value(invocation, nullptr);
        } else {
            g_dbus_method_invocation_return_value(invocation, nullptr);
        }
    }

    void recordNotify(GVariant* parameters, GDBusMethodInvocation* invocation) {
        if (failNext_) {
            g_dbus_method_invocation_return_dbus_error(
                invocation, "org.freedesktop.Notifications.Error.ExcessNotificationGenerated",
                failNext_->c_str());
            failNext_.reset();
            return;
        }
        Notification notification;
        const char* appName = nullptr;
        const char* icon = nullptr;
        const char* summary = nullptr;
        const char* body = nullptr;
        const char** actions = nullptr;
        GVariant* hints = nullptr;
        g_variant_get(parameters, "(&su&s&s&s^a&s@a{sv}i)", &appName, &notification.replacesId,
                      &icon, &summary, &body, &actions, &hints, &notification.expireTimeout);
        notification.appName = appName;
        notification.icon = icon;
        notification.summary = summary;
        notification.body = body;
        for (const char** action = actions; *action != nullptr; ++action) {
            notification.actions.emplace_back(*action);
        }
        g_free(static_cast<void*>(actions));
        for (const char* key : {"desktop-entry", "sound-name", "suppress-sound", "transient",
                                "urgency", "category"}) {
            if (GVariant* value = g_variant_lookup_value(hints, key, nullptr)) {
                notification.hints[key] = takeString(g_variant_print(value, 0));
                g_variant_unref(value);
            }
        }
        g_variant_unref(hints);
        notification.id = nextId_++;
        notifications_.push_back(notification);
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(u)", notification.id));
    }

    std::vector<std::string> capabilities_;
    GDBusConnection* connection_ = nullptr;
    unsigned registration_ = 0;
    bool ownsName_ = false;
    int capabilityQueries_ = 0;
    std::uint32_t nextId_ = 41;
    std::optional<std::string> failNext_;
    bool failCapabilities_ = false;
    std::map<std::string, std::chrono::milliseconds> delays_;
    std::vector<std::unique_ptr<Held>> held_;
    std::vector<std::uint32_t> closed_;
    int notifyCalls_ = 0;
    std::vector<Notification> notifications_;
};

class RecordingDelegate : public NotificationCenterDelegate {
public:
    void didReceiveNotificationResponse(const std::string& identifier,
                                        const std::function<void()>& completion) override {
        opened.push_back(identifier);
        completion();
    }
    void notificationServerDidAppear() override { ++serversAppeared; }

    std::vector<std::string> opened;
    int serversAppeared = 0;
};

bool waitFor(const std::function<bool()>& done) {
    return gtk::iterateMainLoopUntil(done, 10.0);
}

// Runs `add` and returns its error, checking that the completion runs later
// and exactly once.
std::optional<std::string> addAndWait(NotificationCenter& center,
                                      const NotificationRequest& request) {
    int completions = 0;
    std::optional<std::string> error;
    center.add(request, [&](std::optional<std::string> e) {
        ++completions;
        error = std::move(e);
    });
    EXPECT_EQ(completions, 0) << "completed inside add()";
    EXPECT_TRUE(waitFor([&] { return completions > 0; }));
    gtk::iterateMainLoopUntil([] { return false; }, 0.05);
    EXPECT_EQ(completions, 1);
    return error;
}

std::optional<bool> requestAuthorizationAndWait(NotificationCenter& center) {
    std::optional<bool> granted;
    int completions = 0;
    center.requestAuthorization(AuthorizationAlert | AuthorizationSound | AuthorizationBadge,
                                [&](bool g) {
                                    ++completions;
                                    granted = g;
                                });
    EXPECT_EQ(completions, 0) << "completed inside requestAuthorization()";
    waitFor([&] { return completions > 0; });
    gtk::iterateMainLoopUntil([] { return false; }, 0.05);
    EXPECT_LE(completions, 1);
    return granted;
}

NotificationRequest alert(std::string identifier, std::string title = "贵州茅台 突破 1800",
                          std::string body = "现价 1801.00，高于提醒价 1800.00") {
    NotificationRequest request;
    request.identifier = std::move(identifier);
    request.title = std::move(title);
    request.body = std::move(body);
    return request;
}

class DBusNotificationCenterTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server_.ownsName()); }

    // Created first, so no request ever reaches an empty bus name, which
    // D-Bus would answer by starting the installed notification server.
    FakeNotificationServer server_;
    RecordingDelegate delegate_;
    std::vector<std::optional<std::string>> clicks_;
    std::unique_ptr<NotificationCenter> center_ = gtk::makeDBusNotificationCenter(
        [this](const std::optional<std::string>& token) { clicks_.push_back(token); });
};

TEST_F(DBusNotificationCenterTest, AuthorizationIsGrantedWhenTheServerAnswers) {
    EXPECT_EQ(requestAuthorizationAndWait(*center_), true);
    EXPECT_EQ(server_.capabilityQueries(), 1);
}

TEST_F(DBusNotificationCenterTest, NotifyCarriesTheTextsTheDefaultActionAndTheSound) {
    center_->setDelegate(&delegate_);
    EXPECT_EQ(addAndWait(*center_, alert("42")), std::nullopt);

    ASSERT_EQ(server_.notifications().size(), 1u);
    const auto& sent = server_.notifications().front();
    EXPECT_EQ(sent.appName, "Quorvel");
    EXPECT_EQ(sent.replacesId, 0u);
    EXPECT_EQ(sent.icon, "io.quorvel.Desktop");
    EXPECT_EQ(sent.summary, "贵州茅台 突破 1800");
    EXPECT_EQ(sent.body, "现价 1801.00，高于提醒价 1800.00");
    EXPECT_THAT(sent.actions, ElementsAre("default", "打开"));
    EXPECT_EQ(sent.expireTimeout, -1);
    EXPECT_EQ(sent.hints,
              (std::map<std::string, std::string>{{"desktop-entry", "'io.quorvel.Desktop'"},
                                                  {"sound-name", "'message-new-instant'"}}));

    NotificationRequest silent = alert("43");
    silent.defaultSound = false;
    EXPECT_EQ(addAndWait(*center_, silent), std::nullopt);
    ASSERT_EQ(server_.notifications().size(), 2u);
    EXPECT_EQ(server_.notifications()[1].hints.count("sound-name"), 0u);
    EXPECT_EQ(server_.notifications()[1].hints.at("suppress-sound"), "true");
}

TEST_F(DBusNotificationCenterTest, TextsAreSentSafely) {
    NotificationRequest request = alert("1", "A & B <b>", "x < y && y > z <i>");
    EXPECT_EQ(addAndWait(*center_, request), std::nullopt);
    // This server shows bodies as plain text: nothing is escaped.
    ASSERT_EQ(server_.notifications().size(), 1u);
    EXPECT_EQ(server_.notifications()[0].summary, "A & B <b>");
    EXPECT_EQ(server_.notifications()[0].body, "x < y && y > z <i>");

    // Bytes that are not UTF-8 cannot go on the bus as they are.
    request = alert("2", "bad \xff title", "bad \xc3 body");
    EXPECT_EQ(addAndWait(*center_, request), std::nullopt);
    ASSERT_EQ(server_.notifications().size(), 2u);
    EXPECT_EQ(server_.notifications()[1].summary, "bad \xef\xbf\xbd title");
    EXPECT_EQ(server_.notifications()[1].body, "bad \xef\xbf\xbd body");
}

TEST(DBusNotificationCenterMarkupTest, BodyIsEscapedForAServerThatTakesMarkupOrDoesNotSay) {
    for (const bool sayWhatItTakes : {true, false}) {
        SCOPED_TRACE(sayWhatItTakes ? "body-markup listed" : "GetCapabilities failed");
        FakeNotificationServer server({"actions", "body", "body-markup"});
        ASSERT_TRUE(server.ownsName());
        if (!sayWhatItTakes) {
            server.failGetCapabilities();
        }
        const auto center = gtk::makeDBusNotificationCenter();
        EXPECT_EQ(addAndWait(*center, alert("1", "A & B <b>", "x < y && y > z <i>")), std::nullopt);
        ASSERT_EQ(server.notifications().size(), 1u);
        // The summary is never markup.
        EXPECT_EQ(server.notifications()[0].summary, "A & B <b>");
        EXPECT_EQ(server.notifications()[0].body, "x &lt; y &amp;&amp; y &gt; z &lt;i&gt;");
    }
}

// A busy server (a loaded desktop shell, a burst being drawn) answers late.
TEST(DBusNotificationCenterLateServerTest, ASlowServerIsNeitherRefusedNorShownTwice) {
    FakeNotificationServer server;
    ASSERT_TRUE(server.ownsName());
    server.answerLate("GetCapabilities", std::chrono::seconds(6));
    server.answerLate("Notify", std::chrono::seconds(11));
    const auto center = gtk::makeDBusNotificationCenter();
    std::vector<bool> granted;
    std::vector<std::optional<std::string>> results;
    center->requestAuthorization(0, [&](bool answer) { granted.push_back(answer); });
    center->add(alert("42"), [&](std::optional<std::string> error) { results.push_back(error); });
    EXPECT_TRUE(
        gtk::iterateMainLoopUntil([&] { return !granted.empty() && !results.empty(); }, 30.0));
    gtk::iterateMainLoopUntil([] { return false; }, 0.1);
    EXPECT_THAT(granted, ElementsAre(true));
    EXPECT_THAT(results, ElementsAre(std::nullopt));
    EXPECT_EQ(server.notifications().size(), 1u);
    EXPECT_TRUE(server.closed().empty());
}

TEST(DBusNotificationCenterLateServerTest, AServerThatDoesNotAnswerFailsOnceAndNeverShowsTwice) {
    using std::chrono::milliseconds;
    FakeNotificationServer server;
    ASSERT_TRUE(server.ownsName());
    gtk::NotificationServerBounds bounds;
    bounds.capabilities = milliseconds(1000);
    bounds.notify = milliseconds(1000);
    const auto center = gtk::makeDBusNotificationCenter({}, bounds);
    std::vector<std::string> outcomes;
    const auto outcome = [&outcomes](std::string name) {
        return [&outcomes, name](std::optional<std::string> error) {
            outcomes.push_back(name + (error ? " failed" : " sent"));
        };
    };

    // An answer after the bound: the request has failed by then, and so has
    // the one waiting behind it, unsent. The alert the server shows late is
    // closed again at once.
    server.answerLate("Notify", milliseconds(2500));
    const auto started = std::chrono::steady_clock::now();
    center->add(alert("late"), outcome("late"));
    center->add(alert("behind"), outcome("behind"));
    EXPECT_TRUE(waitFor([&] { return outcomes.size() == 2; }));
    EXPECT_LT(std::chrono::steady_clock::now() - started, milliseconds(2000));
    EXPECT_THAT(outcomes, ElementsAre("late failed", "behind failed"));
    EXPECT_TRUE(waitFor([&] { return !server.closed().empty(); }));
    ASSERT_EQ(server.notifications().size(), 1u);
    EXPECT_THAT(server.closed(), ElementsAre(server.notifications()[0].id));
    EXPECT_EQ(server.notifyCalls(), 1);

    // Answering in time again, the server gets the next request.
    server.answerLate("Notify", milliseconds(0));
    center->add(alert("next"), outcome("next"));
    EXPECT_TRUE(waitFor([&] { return outcomes.size() == 3; }));

    // No answer at all: one failure within the bound, nothing after it.
    server.answerLate("Notify", FakeNotificationServer::kNever);
    center->add(alert("hung"), outcome("hung"));
    EXPECT_TRUE(waitFor([&] { return outcomes.size() == 4; }));
    gtk::iterateMainLoopUntil([] { return false; }, 0.5);
    EXPECT_THAT(outcomes, ElementsAre("late failed", "behind failed", "next sent", "hung failed"));

    // Nor to GetCapabilities: permission is refused within its bound, once.
    server.answerLate("GetCapabilities", FakeNotificationServer::kNever);
    std::vector<bool> granted;
    center->requestAuthorization(0, [&](bool answer) { granted.push_back(answer); });
    EXPECT_TRUE(waitFor([&] { return !granted.empty(); }));
    gtk::iterateMainLoopUntil([] { return false; }, 0.3);
    EXPECT_THAT(granted, ElementsAre(false));
}

TEST_F(DBusNotificationCenterTest, AServerErrorIsTheResult) {
    server_.failNextNotify("too many notifications");
    const auto error = addAndWait(*center_, alert("42"));
    ASSERT_TRUE(error);
    EXPECT_THAT(*error, HasSubstr("too many notifications"));
    EXPECT_TRUE(server_.notifications().empty());

    // The next request goes through again.
    EXPECT_EQ(addAndWait(*center_, alert("43")), std::nullopt);
}

TEST_F(DBusNotificationCenterTest, ADefaultActionOnOurNotificationOpensIt) {
    center_->setDelegate(&delegate_);
    ASSERT_EQ(addAndWait(*center_, alert("desktop-test-A")), std::nullopt);
    ASSERT_EQ(addAndWait(*center_, alert("42")), std::nullopt);
    ASSERT_EQ(server_.notifications().size(), 2u);
    const std::uint32_t testId = server_.notifications()[0].id;
    const std::uint32_t alertId = server_.notifications()[1].id;

    // The click's activation token comes first, for the window it brings
    // forward; one for another program's notification is not ours.
    server_.emitActivationToken(alertId + 100, "not-ours");
    server_.emitActivationToken(alertId, "click-token");
    server_.emitActionInvoked(alertId, "default");
    EXPECT_TRUE(waitFor([&] { return !delegate_.opened.empty(); }));
    EXPECT_THAT(delegate_.opened, ElementsAre("42"));
    EXPECT_THAT(clicks_, ElementsAre("click-token"));

    // Another action, another program's notification, and one that was closed
    // are not ours to open.
    server_.emitActionInvoked(testId, "snooze");
    server_.emitActionInvoked(alertId + 100, "default");
    server_.emitNotificationClosed(testId);
    server_.emitActionInvoked(testId, "default");
    // A last click marks the end of the signals above.
    server_.emitActionInvoked(alertId, "default");
    EXPECT_TRUE(waitFor([&] { return delegate_.opened.size() == 2; }));
    gtk::iterateMainLoopUntil([] { return false; }, 0.1);
    EXPECT_THAT(delegate_.opened, ElementsAre("42", "42"));
    // The last click came without a token of its own.
    EXPECT_THAT(clicks_, ElementsAre("click-token", std::nullopt));
}

TEST_F(DBusNotificationCenterTest, NothingCallsBackOnceTheCenterIsGone) {
    center_->setDelegate(&delegate_);
    ASSERT_EQ(addAndWait(*center_, alert("42")), std::nullopt);
    const std::uint32_t id = server_.notifications()[0].id;

    // Requests in flight are dropped with the center: their completions are
    // released at once and never run.
    int completions = 0;
    auto sentinel = std::make_shared<int>(0);
    std::weak_ptr<int> watch = sentinel;
    center_->add(alert("43"), [&, sentinel](std::optional<std::string>) { ++completions; });
    center_->requestAuthorization(0, [&, sentinel](bool) { ++completions; });
    sentinel.reset();
    center_.reset();
    EXPECT_TRUE(watch.expired());
    server_.emitActionInvoked(id, "default");
    gtk::iterateMainLoopUntil([] { return false; }, 0.3);
    EXPECT_EQ(completions, 0);
    EXPECT_TRUE(delegate_.opened.empty());
}

// The cases without a notification server run in a process of their own (the
// session bus connection is made once per process), against a bus that cannot
// start one on demand, or no bus at all.
class DBusNotificationCenterDeathTest : public testing::Test {
protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }

    // Reports how the center answered without a server, as the exit code:
    // 0 when permission was refused and a request failed with a message.
    [[noreturn]] static void checkCenterAndExit() {
        const auto center = gtk::makeDBusNotificationCenter();
        const std::optional<bool> granted = requestAuthorizationAndWait(*center);
        const std::optional<std::string> error = addAndWait(*center, alert("42"));
        std::fprintf(stderr, "granted=%s error=%s\n",
                     granted ? (*granted ? "true" : "false") : "none",
                     error ? error->c_str() : "none");
        std::fflush(stderr);
        ::_exit(granted == false && error && !error->empty() ? 0 : 1);
    }

    // Reports how the center took a server that started after it had
    // refused permission, as the exit code: 0 when the delegate heard of the
    // server once, and permission was granted when asked again.
    [[noreturn]] static void checkServerAppearingAndExit() {
        RecordingDelegate delegate;
        const auto center = gtk::makeDBusNotificationCenter();
        center->setDelegate(&delegate);
        const std::optional<bool> before = requestAuthorizationAndWait(*center);
        std::optional<bool> after;
        int appearedWhileRunning = 0;
        {
            FakeNotificationServer server;
            if (!server.ownsName()) {
                ::_exit(2);
            }
            waitFor([&] { return delegate.serversAppeared > 0; });
            gtk::iterateMainLoopUntil([] { return false; }, 0.2);
            appearedWhileRunning = delegate.serversAppeared;
            after = requestAuthorizationAndWait(*center);
        }
        // The server going away is no news for the delegate.
        gtk::iterateMainLoopUntil([] { return false; }, 0.3);
        const auto text = [](std::optional<bool> answer) {
            return answer ? (*answer ? "true" : "false") : "none";
        };
        std::fprintf(stderr, "before=%s appeared=%d/%d after=%s\n", text(before),
                     appearedWhileRunning, delegate.serversAppeared, text(after));
        std::fflush(stderr);
        ::_exit(before == false && appearedWhileRunning == 1 && delegate.serversAppeared == 1 &&
                        after == true
                    ? 0
                    : 1);
    }

    // Runs the check against a private bus with no service files, on which
    // nothing can be started on demand.
    [[noreturn]] static void checkOnPrivateBusAndExit(const std::filesystem::path& folder,
                                                      void (*check)()) {
        const auto socket = folder / "bus";
        std::ofstream(folder / "bus.conf") << R"(<!DOCTYPE busconfig PUBLIC
 "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=)" << socket.string() << R"(</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)";
        ProcessSpec daemon;
        daemon.executable = "/usr/bin/dbus-daemon";
        daemon.arguments = {"--nofork", "--config-file=" + (folder / "bus.conf").string()};
        // The daemon ends with this process.
        const auto launched = gtk::makePosixProcessLauncher()->launch(daemon, {});
        if (!launched.process) {
            std::fprintf(stderr, "%s\n", launched.errorDescription.c_str());
            ::_exit(2);
        }
        for (int i = 0; i < 500 && !std::filesystem::exists(socket); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (!std::filesystem::exists(socket)) {
            std::fprintf(stderr, "the private bus did not start\n");
            ::_exit(2);
        }
        ::setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + socket.string()).c_str(), 1);
        check();
        ::_exit(3);
    }

    // A folder for the private bus; the child process that runs the test
    // again finds it through the environment it inherits.
    static std::filesystem::path busFolder() {
        const char* inherited = std::getenv("QUORVEL_TEST_BUS_FOLDER");
        const std::filesystem::path folder =
            inherited != nullptr ? std::filesystem::path(inherited)
                                 : std::filesystem::temp_directory_path() /
                                       ("quorvel-bus-" + std::to_string(::getpid()));
        std::filesystem::create_directories(folder);
        ::setenv("QUORVEL_TEST_BUS_FOLDER", folder.c_str(), 1);
        return folder;
    }

    static void removeBusFolder(const std::filesystem::path& folder) {
        ::unsetenv("QUORVEL_TEST_BUS_FOLDER");
        std::filesystem::remove_all(folder);
    }
};

TEST_F(DBusNotificationCenterDeathTest, WithoutAServerPermissionIsRefusedAndRequestsFail) {
    if (!std::filesystem::exists("/usr/bin/dbus-daemon")) {
        GTEST_SKIP() << "dbus-daemon is not installed";
    }
    const std::filesystem::path folder = busFolder();
    EXPECT_EXIT(checkOnPrivateBusAndExit(folder, checkCenterAndExit), testing::ExitedWithCode(0),
                "granted=false error=.*org.freedesktop.Notifications");
    removeBusFolder(folder);
}

TEST_F(DBusNotificationCenterDeathTest, AServerThatStartsLaterIsAnnouncedAndAskedAfresh) {
    if (!std::filesystem::exists("/usr/bin/dbus-daemon")) {
        GTEST_SKIP() << "dbus-daemon is not installed";
    }
    const std::filesystem::path folder = busFolder();
    EXPECT_EXIT(checkOnPrivateBusAndExit(folder, checkServerAppearingAndExit),
                testing::ExitedWithCode(0), "before=false appeared=1/1 after=true");
    removeBusFolder(folder);
}

TEST_F(DBusNotificationCenterDeathTest, WithoutASessionBusPermissionIsRefusedAndRequestsFail) {
    EXPECT_EXIT(
        {
            ::setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/quorvel/bus", 1);
            checkCenterAndExit();
        },
        testing::ExitedWithCode(0), "granted=false error=No session bus");
}

} // namespace
} // namespace quorvel

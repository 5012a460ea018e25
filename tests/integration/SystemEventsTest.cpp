#include "integration/MainLoop.h"
#include "integration/PrivateBus.h"
#include "platform/gtk/GioSystemEvents.h"

#include <cstdlib>
#include <gio/gio.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <memory>
#include <unistd.h>

namespace quorvel {
namespace {

constexpr unsigned kDoNotQueue = 4;   // DBUS_NAME_FLAG_DO_NOT_QUEUE
constexpr unsigned kPrimaryOwner = 1; // RequestName reply

// A connection of its own to the private system bus that run-integration.sh
// starts; it plays the login manager when it owns org.freedesktop.login1, an
// impostor otherwise.
class FakeLoginManager {
public:
    explicit FakeLoginManager(bool ownsTheName) {
        connection_ = test::connectToPrivateBus("DBUS_SYSTEM_BUS_ADDRESS", "system bus");
        if (connection_ == nullptr) {
            return;
        }
        if (!ownsTheName) {
            ready_ = true;
            return;
        }
        GVariant* reply =
            callBus("RequestName", g_variant_new("(su)", "org.freedesktop.login1", kDoNotQueue));
        if (reply != nullptr) {
            unsigned answer = 0;
            g_variant_get(reply, "(u)", &answer);
            g_variant_unref(reply);
            ready_ = answer == kPrimaryOwner;
        }
    }

    ~FakeLoginManager() {
        if (connection_ != nullptr) {
            g_dbus_connection_close_sync(connection_, nullptr, nullptr);
            g_object_unref(connection_);
        }
    }

    FakeLoginManager(const FakeLoginManager&) = delete;
    FakeLoginManager& operator=(const FakeLoginManager&) = delete;

    bool ready() const { return ready_; }

    // Sends PrepareForSleep to everyone who listens, or to one connection
    // only, and returns once the bus has passed it on.
    void emitPrepareForSleep(bool sleeping, const char* destination = nullptr) {
        g_dbus_connection_emit_signal(connection_, destination, "/org/freedesktop/login1",
                                      "org.freedesktop.login1.Manager", "PrepareForSleep",
                                      g_variant_new("(b)", sleeping), nullptr);
        // The bus handles a connection's messages in order.
        if (GVariant* reply = callBus("GetId", nullptr)) {
            g_variant_unref(reply);
        }
    }

    // A round trip through the bus on `connection`: what it sent before has
    // been handled by the bus once this returns.
    static void roundTrip(GDBusConnection* connection) {
        GVariant* reply = g_dbus_connection_call_sync(
            connection, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
            "GetId", nullptr, nullptr, G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
        if (reply != nullptr) {
            g_variant_unref(reply);
        }
    }

private:
    GVariant* callBus(const char* method, GVariant* parameters) {
        GError* error = nullptr;
        GVariant* reply = g_dbus_connection_call_sync(
            connection_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
            method, parameters, nullptr, G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, &error);
        if (reply == nullptr) {
            ADD_FAILURE() << method << " failed: " << error->message;
            g_error_free(error);
        }
        return reply;
    }

    GDBusConnection* connection_ = nullptr;
    bool ready_ = false;
};

class RecordingDelegate : public SystemEventsDelegate {
public:
    void networkDidChange() override { ++networkChanges; }
    void systemDidResume() override { ++resumes; }

    int networkChanges = 0;
    int resumes = 0;
};

void runFor(double seconds) {
    gtk::iterateMainLoopUntil([] { return false; }, seconds);
}

TEST(GioSystemEventsTest, OnlyTheLoginManagersWakeUpIsReported) {
    FakeLoginManager loginManager(true);
    FakeLoginManager impostor(false);
    ASSERT_TRUE(loginManager.ready());
    ASSERT_TRUE(impostor.ready());
    GDBusConnection* systemBus = g_bus_get_sync(G_BUS_TYPE_SYSTEM, nullptr, nullptr);
    ASSERT_NE(systemBus, nullptr);

    RecordingDelegate delegate;
    const auto events = gtk::makeGioSystemEvents();
    events->setDelegate(&delegate);
    // The object reaches the bus on the main loop and subscribes; the round
    // trip makes sure the bus has its subscription.
    runFor(0.2);
    FakeLoginManager::roundTrip(systemBus);

    // Going to sleep, and a wake-up from a connection that does not own the
    // login manager's name, to everyone or to this process alone.
    loginManager.emitPrepareForSleep(true);
    impostor.emitPrepareForSleep(false);
    impostor.emitPrepareForSleep(false, g_dbus_connection_get_unique_name(systemBus));
    // The real wake-up, once.
    loginManager.emitPrepareForSleep(false);
    EXPECT_TRUE(gtk::iterateMainLoopUntil([&] { return delegate.resumes > 0; }, 10.0));
    runFor(0.2);
    EXPECT_EQ(delegate.resumes, 1);

    // The network monitor's news goes on as it is.
    g_signal_emit_by_name(g_network_monitor_get_default(), "network-changed", TRUE);
    EXPECT_EQ(delegate.networkChanges, 1);
    g_object_unref(systemBus);
}

// In a process of its own, since the system bus connection is made once per
// process.
TEST(GioSystemEventsDeathTest, WithoutASystemBusNothingIsReportedOrPrinted) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            ::setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/quorvel/system-bus", 1);
            RecordingDelegate delegate;
            auto events = gtk::makeGioSystemEvents();
            events->setDelegate(&delegate);
            runFor(0.5);
            events.reset();
            runFor(0.1);
            ::_exit(delegate.resumes == 0 ? 0 : 1);
        },
        testing::ExitedWithCode(0), testing::IsEmpty());
}

} // namespace
} // namespace quorvel

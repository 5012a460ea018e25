#pragma once

#include <cstdlib>
#include <gio/gio.h>
#include <gtest/gtest.h>
#include <string>

namespace quorvel::test {

// A connection of the test's own to the private bus whose address the named
// variable holds (run-integration.sh starts the buses), or nullptr after
// recording why not.
inline GDBusConnection* connectToPrivateBus(const char* addressVariable, const std::string& bus) {
    const char* address = std::getenv(addressVariable);
    if (address == nullptr) {
        ADD_FAILURE() << "no private " << bus << ": run the tests through run-integration.sh";
        return nullptr;
    }
    GError* error = nullptr;
    GDBusConnection* connection = g_dbus_connection_new_for_address_sync(
        address,
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, &error);
    if (connection == nullptr) {
        ADD_FAILURE() << "cannot connect to the " << bus << ": " << error->message;
        g_error_free(error);
    }
    return connection;
}

} // namespace quorvel::test

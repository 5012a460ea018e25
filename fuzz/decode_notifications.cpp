// Decoder of the pending-notifications body: never crashes or throws, and whatever it accepts is
// valid UTF-8 throughout.
#include "FuzzCheck.h"
#include "app/ConfigMigration.h"
#include "service/NotificationRecords.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view body(reinterpret_cast<const char*>(data), size);
    const auto decoded = quorvel::decodeDesktopNotificationsResponse(body);
    if (!decoded) {
        return 0;
    }
    FUZZ_REQUIRE(quorvel::isValidUtf8(body));
    for (const quorvel::DesktopNotification& record : decoded->notifications) {
        FUZZ_REQUIRE(quorvel::isValidUtf8(record.id));
        FUZZ_REQUIRE(quorvel::isValidUtf8(record.messageTitle));
        FUZZ_REQUIRE(quorvel::isValidUtf8(record.messageBody));
        FUZZ_REQUIRE(!record.sourceType || quorvel::isValidUtf8(*record.sourceType));
        FUZZ_REQUIRE(!record.sourceId || quorvel::isValidUtf8(*record.sourceId));
    }
    return 0;
}

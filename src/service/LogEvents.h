#pragma once

#include <string>
#include <string_view>

// The diagnostic log's lines that its readers watch for (the end-to-end runs, the benchmark,
// someone with grep) start with one of these keys, a space, then the sentence a user reads.
// The keys stay as they are when a sentence is reworded; a reader matches the key and, where it
// needs them, the fields (`name=value`) after it. bench/ reads this file.
namespace quorvel::logevent {

// The page.
inline constexpr std::string_view pageLoadFailed = "page-load-failed";
inline constexpr std::string_view pageRefused = "page-refused";
inline constexpr std::string_view pageNavigation = "page-navigation";
inline constexpr std::string_view scriptDialogsStopped = "script-dialogs-stopped";
inline constexpr std::string_view systemResumed = "system-resumed";

// The page's web process.
inline constexpr std::string_view webProcessTerminated = "web-process-terminated";
inline constexpr std::string_view webProcessReload = "web-process-reload";
inline constexpr std::string_view webProcessReloadsStopped = "web-process-reloads-stopped";
inline constexpr std::string_view webProcessUnresponsive = "web-process-unresponsive";
inline constexpr std::string_view webProcessEnded = "web-process-ended";
inline constexpr std::string_view webSandboxUnavailable = "web-sandbox-unavailable";

// The bundled local service.
inline constexpr std::string_view servicePortTaken = "service-port-taken";
inline constexpr std::string_view servicePortMoved = "service-port-moved";
inline constexpr std::string_view serviceExit = "service-exit";
inline constexpr std::string_view serviceRestart = "service-restart";
inline constexpr std::string_view serviceAnsweredAgain = "service-answered-again";
inline constexpr std::string_view serviceUnresponsive = "service-unresponsive";

// Requests to the service, and the alerts they bring.
inline constexpr std::string_view requestDone = "request-done";
inline constexpr std::string_view requestFailed = "request-failed";
inline constexpr std::string_view pendingLoaded = "pending-loaded";
inline constexpr std::string_view pendingDecodeFailed = "pending-decode-failed";
inline constexpr std::string_view localNotification = "local-notification";
inline constexpr std::string_view alertFlowNotice = "alert-flow-notice";

// The text of a log line of the event.
inline std::string line(std::string_view event, std::string_view sentence) {
    std::string text(event);
    text += ' ';
    text += sentence;
    return text;
}

} // namespace quorvel::logevent

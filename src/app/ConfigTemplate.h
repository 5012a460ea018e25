#pragma once

#include <string_view>

namespace quorvel {

// Sender address the template proposes for outgoing alert mails. The ".invalid" top-level
// domain never resolves, so nothing is sent before the user enters a real address.
inline constexpr std::string_view defaultSenderAddress = "alerts@quorvel.invalid";

// The configuration file written on a first start: 16 lines joined by LF, no trailing LF.
std::string_view configTemplate();

} // namespace quorvel

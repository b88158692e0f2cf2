// The protection a host is left with: the fleet counts its hosts by it. Which one a host's
// record shows is protectionOf (host_protection.h).
#pragma once

namespace report {

// Which agent protects a host, as far as its log tells.
enum class Protection { NewAgent, OldAgent, None, Unknown };
constexpr int kProtectionCount = 4;
const char* protectionKey(Protection protection);    // "newAgent", ... (JSON)
const char* protectionLabel(Protection protection);  // "new agent", ... (people)

}  // namespace report

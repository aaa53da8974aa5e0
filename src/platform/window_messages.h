// The system-wide registry of window-message names: the same name always gives the same id,
// and ids are handed out from 0xC000 upwards.
#pragma once

#include <cstdint>
#include <string>

namespace vm316::platform {

inline constexpr std::uint32_t kFirstRegisteredMessage = 0xC000;

// Frees the registry when the library is unloaded.
void ReleaseWindowMessages();

// Returns 0 for an empty name. Names compare without regard to case.
std::uint32_t RegisterWindowMessage(const std::string& name);

}  // namespace vm316::platform

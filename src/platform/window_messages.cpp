#include "platform/window_messages.h"

#include <algorithm>
#include <cctype>
#include <map>

namespace vm316::platform {

namespace {
std::map<std::string, std::uint32_t>* registry = nullptr;
}

void ReleaseWindowMessages() {
  delete registry;
  registry = nullptr;
}

std::uint32_t RegisterWindowMessage(const std::string& name) {
  if (name.empty()) return 0;
  if (registry == nullptr) registry = new std::map<std::string, std::uint32_t>();
  std::string key = name;
  std::transform(key.begin(), key.end(), key.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  const auto [entry, inserted] =
      registry->try_emplace(key, kFirstRegisteredMessage + static_cast<std::uint32_t>(registry->size()));
  (void)inserted;
  return entry->second;
}

}  // namespace vm316::platform

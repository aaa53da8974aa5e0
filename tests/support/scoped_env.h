// Sets environment variables for one test and puts the old values back afterwards.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vm316::testing {

class ScopedEnv {
 public:
  ScopedEnv() = default;
  ScopedEnv(const char* name, const std::string& value) { Set(name, value); }
  ~ScopedEnv() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
      if (it->second) {
        setenv(it->first.c_str(), it->second->c_str(), 1);
      } else {
        unsetenv(it->first.c_str());
      }
    }
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

  ScopedEnv& Set(const char* name, const std::string& value) {
    Save(name);
    setenv(name, value.c_str(), 1);
    return *this;
  }
  ScopedEnv& Unset(const char* name) {
    Save(name);
    unsetenv(name);
    return *this;
  }

 private:
  void Save(const char* name) {
    const char* old = std::getenv(name);
    saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
  }
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

}  // namespace vm316::testing

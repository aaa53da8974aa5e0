// `vm316 serve`: a live front panel for any local browser. One thread owns the instrument
// (serve_instrument.h); the HTTP handlers (serve_command.cpp) only read what it published and
// queue settings for it.
#pragma once

#include <string>

#include "shared/options.h"

namespace vm316::serve {

inline constexpr const char* kDefaultListen = "127.0.0.1:8316";

struct ServeOptions {
  std::string listen = kDefaultListen;  // ADDR:PORT; port 0 takes a free one
  std::string token;                    // required on every request when not empty
  std::string token_file;               // its first line is the token
  bool open_browser = false;
};

int RunServe(const host::BackendOptions& backend, const ServeOptions& serve);

}  // namespace vm316::serve

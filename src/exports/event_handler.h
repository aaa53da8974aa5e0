#pragma once

namespace vm316 {
class TVMx16;
}

namespace vm316::exports {

// Connects the instrument's settings event to the exported interface: whenever settings
// change it passes the current sensitivities of channels 1 and 2 back through SetSensitivity,
// which leaves the ranges as they are and refreshes the volt factors (so ranges moved by
// automatic ranging are followed).
class TEventHandler {
 public:
  explicit TEventHandler(TVMx16& instance);
  void SettingsHandler(TVMx16& sender);
};

}  // namespace vm316::exports

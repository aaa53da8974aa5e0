// Captures what the library says to the user (message boxes, beeps, the progress window)
// through the host's message handler, for the lifetime of the object.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "vm316_host.h"

namespace vm316::testing {

struct Notice {
  int kind;
  std::string caption;
  std::string text;
};

class MessageCapture {
 public:
  MessageCapture() { vm316_set_message_handler(&MessageCapture::Receive, this); }
  ~MessageCapture() { vm316_set_message_handler(nullptr, nullptr); }
  MessageCapture(const MessageCapture&) = delete;
  MessageCapture& operator=(const MessageCapture&) = delete;

  const std::vector<Notice>& notices() const { return notices_; }

  std::vector<std::string> Texts(int kind = VM316_NOTICE_MESSAGE_BOX) const {
    std::vector<std::string> texts;
    for (const Notice& notice : notices_) {
      if (notice.kind == kind) texts.push_back(notice.text);
    }
    return texts;
  }

  int Count(int kind) const { return static_cast<int>(Texts(kind).size()); }

  // Called with the kind of every notice as it arrives, for tests that look at the moment.
  std::function<void(int kind)> on_notice;

 private:
  static void Receive(int kind, const char* caption, const char* text, void* context) {
    auto* self = static_cast<MessageCapture*>(context);
    self->notices_.push_back({kind, caption, text});
    if (self->on_notice) self->on_notice(kind);
  }
  std::vector<Notice> notices_;
};

}  // namespace vm316::testing

#include "platform/messages.h"

#include <cstdio>

#include "platform/library_call.h"

namespace vm316::platform {
namespace {

struct MessageState {
  vm316_message_handler handler = nullptr;
  void* context = nullptr;
  MessageSink sink = kDefaultMessageSink;
};

MessageState& State() {
  static MessageState state;  // trivially destructible: safe during unload
  return state;
}

}  // namespace

void SetMessageHandler(vm316_message_handler handler, void* context) {
  State().handler = handler;
  State().context = context;
}

void SetMessageSink(MessageSink sink) {
  State().sink = sink;
}

void Notify(int kind, const std::string& caption, const std::string& text, MessageIcon icon) {
  MessageState& state = State();
  if (state.handler != nullptr) {
    const HostCallout host;
    state.handler(kind, caption.c_str(), text.c_str(), state.context);
    return;
  }
  switch (state.sink) {
    case MessageSink::kQuiet:
      return;
    case MessageSink::kStderr:
      PrintNotice(kind, caption, text);
      return;
    case MessageSink::kSystem: {
      // The system's modal loop runs the host's window procedures.
      const HostCallout host;
      ShowSystemNotice(kind, caption, text, icon);
      return;
    }
  }
}

void PrintNotice(int kind, const std::string& caption, const std::string& text) {
  switch (kind) {
    case VM316_NOTICE_MESSAGE_BOX:
    case VM316_NOTICE_PROGRESS_SHOW:
      std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
      break;
    default:  // a beep or a closed progress window has nothing to print
      break;
  }
}

void ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon) {
  Notify(VM316_NOTICE_MESSAGE_BOX, caption, text, icon);
}

void ShowErrorMessage(const std::string& text, const std::string& caption) {
  ShowMessage(text, caption, MessageIcon::kError);
}

void MessageBeep() {
  Notify(VM316_NOTICE_BEEP, "", "");
}

}  // namespace vm316::platform

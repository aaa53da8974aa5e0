#include "platform/messages.h"

#include <cstdio>

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

void SetMessageSink(MessageSink sink) { State().sink = sink; }

void Notify(int kind, const std::string& caption, const std::string& text) {
  MessageState& state = State();
  if (state.handler != nullptr) {
    state.handler(kind, caption.c_str(), text.c_str(), state.context);
    return;
  }
  switch (state.sink) {
    case MessageSink::kQuiet:
      return;
    case MessageSink::kStderr:
      PrintNotice(kind, caption, text);
      return;
    case MessageSink::kSystem:
      ShowSystemNotice(kind, caption, text);
      return;
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

void ShowMessage(const std::string& text, const std::string& caption) {
  Notify(VM316_NOTICE_MESSAGE_BOX, caption, text);
}

void MessageBeep() { Notify(VM316_NOTICE_BEEP, "", ""); }

}  // namespace vm316::platform

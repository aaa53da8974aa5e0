// Texts for the user: modal message boxes, the default beep and the progress window. On this
// platform nothing waits for a click: a text goes to the host's handler if it installed one,
// else to stderr, or nowhere with VM316_MESSAGES=quiet.
#pragma once

#include <string>

#include "vm316_host.h"

namespace vm316::platform {

// A modal message box with a single OK button.
void ShowMessage(const std::string& text, const std::string& caption = "vm316");

// MessageBeep(0): the default system sound.
void MessageBeep();

// The host's handler (null restores the default).
void SetMessageHandler(vm316_message_handler handler, void* context);

// How messages are delivered when no handler is installed; read from VM316_MESSAGES.
enum class MessageSink { kStderr, kQuiet };
void SetMessageSink(MessageSink sink);

// Delivers one notice to the handler or the sink (used by the progress window too).
void Notify(int kind, const std::string& caption, const std::string& text);

}  // namespace vm316::platform

// Texts for the user: modal message boxes, the default beep and the progress window. A text
// goes to the host's handler if it installed one; else, by VM316_MESSAGES, to the system's
// modal message box (Windows, the default there), to stderr (the default elsewhere, where
// nothing waits for a click) or nowhere (quiet).
#pragma once

#include <string>

#include "vm316_host.h"

namespace vm316::platform {

// The icon of a message box: none, or the error icon of a failure the user must act on.
enum class MessageIcon { kNone, kError };

// A modal message box with a single OK button.
void ShowMessage(const std::string& text, const std::string& caption = "vm316",
                 MessageIcon icon = MessageIcon::kNone);
// The same with the error icon.
void ShowErrorMessage(const std::string& text, const std::string& caption = "vm316");

// MessageBeep(0): the default system sound.
void MessageBeep();

// The host's handler (null restores the default).
void SetMessageHandler(vm316_message_handler handler, void* context);

// How messages are delivered when no handler is installed; read from VM316_MESSAGES.
enum class MessageSink { kStderr, kQuiet, kSystem };
#ifdef _WIN32
inline constexpr MessageSink kDefaultMessageSink = MessageSink::kSystem;
#else
inline constexpr MessageSink kDefaultMessageSink = MessageSink::kStderr;
#endif
void SetMessageSink(MessageSink sink);

// The system's own way to show a notice (kSystem): a modal message box and MessageBeep on
// Windows; stderr where the system has none.
void ShowSystemNotice(int kind, const std::string& caption, const std::string& text,
                      MessageIcon icon = MessageIcon::kNone);

// Prints a notice to stderr (beeps and closed progress windows print nothing).
void PrintNotice(int kind, const std::string& caption, const std::string& text);

// Delivers one notice to the handler or the sink (used by the progress window too). The host's
// code it reaches runs in the host's floating-point environment.
void Notify(int kind, const std::string& caption, const std::string& text,
            MessageIcon icon = MessageIcon::kNone);

}  // namespace vm316::platform

// Linux has no modal message box of its own: a notice for the system goes to stderr.
#include "platform/messages.h"

namespace vm316::platform {

void ShowSystemNotice(int kind, const std::string& caption, const std::string& text,
                      MessageIcon /*icon*/) {
  PrintNotice(kind, caption, text);
}

}  // namespace vm316::platform

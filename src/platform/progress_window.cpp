#include "platform/progress_window.h"

#include "platform/messages.h"

namespace vm316::platform {
namespace {
constexpr std::int32_t kAverageCharWidth = 6;
}

std::int32_t TextWidth(const std::string& text) {
  return static_cast<std::int32_t>(text.size()) * kAverageCharWidth;
}

ProgressWindow::ProgressWindow(std::string caption, std::int32_t width, std::int32_t height)
    : caption_(std::move(caption)), width_(width), height_(height) {}

ProgressWindow::~ProgressWindow() {
  if (visible_) Notify(VM316_NOTICE_PROGRESS_HIDE, caption_, label_);
}

std::int32_t ProgressWindow::SetLabel(std::int32_t /*left*/, std::int32_t /*top*/,
                                      std::string text) {
  label_ = std::move(text);
  return TextWidth(label_);
}

void ProgressWindow::SetBounds(std::int32_t left, std::int32_t top, std::int32_t width,
                               std::int32_t height) {
  left_ = left;
  top_ = top;
  width_ = width;
  height_ = height;
}

void ProgressWindow::ShowAndRepaint() {
  if (visible_) return;
  visible_ = true;
  Notify(VM316_NOTICE_PROGRESS_SHOW, caption_, label_);
}

}  // namespace vm316::platform

// A small dialog-style window with one label, shown while the driver works without
// dispatching messages (the calibration). The host sees it through the message handler:
// a progress notice when it is shown, another when it is destroyed. On Windows it is also a
// real window, painted as soon as it is shown.
#pragma once

#include <cstdint>
#include <string>

namespace vm316::platform {

// Width in pixels of a text in the dialog font (average character width of the stand-in).
std::int32_t TextWidth(const std::string& text);

class ProgressWindow {
 public:
  ProgressWindow(std::string caption, std::int32_t width, std::int32_t height);
  ~ProgressWindow();
  ProgressWindow(const ProgressWindow&) = delete;
  ProgressWindow& operator=(const ProgressWindow&) = delete;

  // The one label, sized to its text; returns its width.
  std::int32_t SetLabel(std::int32_t left, std::int32_t top, std::string text);

  void SetBounds(std::int32_t left, std::int32_t top, std::int32_t width, std::int32_t height);
  std::int32_t Left() const { return left_; }
  std::int32_t Top() const { return top_; }
  std::int32_t Width() const { return width_; }
  std::int32_t Height() const { return height_; }
  const std::string& Caption() const { return caption_; }
  const std::string& Label() const { return label_; }

  // Shows the window and paints it at once (no message loop runs while it is up).
  void ShowAndRepaint();
  bool Visible() const { return visible_; }

 private:
  std::string caption_;
  std::string label_;
  std::int32_t left_ = 0;
  std::int32_t top_ = 0;
  std::int32_t width_;
  std::int32_t height_;
  bool visible_ = false;
  [[maybe_unused]] void* window_ = nullptr;  // the system's window, where it has one
};

}  // namespace vm316::platform

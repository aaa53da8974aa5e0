// The progress window on Windows: a dialog-style window with one static label in the dialog
// font, black on the dialog colour. Nothing dispatches its messages while it is up (the
// calibration blocks the thread), so showing it paints it and its label at once. Where the
// system cannot make the window (no desktop), it stays a window in figures only, as elsewhere.
#include "platform/progress_window.h"

#include <utility>

#include "platform/messages.h"
#include "platform/win32/window_classes.h"
#include "platform/win32/windows_api.h"

namespace vm316::platform {
namespace {

constexpr const char* kProgressWindowClass = "vm316 progress window";
constexpr DWORD kDialogStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU;
constexpr DWORD kDialogExStyle = WS_EX_DLGMODALFRAME;
// Used only when the system has no screen to measure with.
constexpr std::int32_t kAverageCharWidth = 6;

HFONT DialogFont() {
  return static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT));
}

SIZE TextExtent(const std::string& text) {
  SIZE extent{static_cast<LONG>(text.size()) * kAverageCharWidth, 13};
  const HDC screen = ::GetDC(nullptr);
  if (screen == nullptr) return extent;
  const HGDIOBJ previous = ::SelectObject(screen, DialogFont());
  SIZE measured{};
  if (::GetTextExtentPoint32A(screen, text.c_str(), static_cast<int>(text.size()), &measured)) {
    extent = measured;
  }
  ::SelectObject(screen, previous);
  ::ReleaseDC(nullptr, screen);
  return extent;
}

LRESULT CALLBACK ProgressWindowProcedure(HWND handle, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_CTLCOLORSTATIC: {
      const HDC dc = reinterpret_cast<HDC>(wparam);
      ::SetTextColor(dc, RGB(0, 0, 0));
      ::SetBkColor(dc, ::GetSysColor(COLOR_BTNFACE));
      return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_BTNFACE));
    }
    case WM_CLOSE:
      return 0;  // it goes when the calibration is over, not before
    default:
      return ::DefWindowProcA(handle, message, wparam, lparam);
  }
}

HWND Frame(void* window) {
  return static_cast<HWND>(window);
}

}  // namespace

std::int32_t TextWidth(const std::string& text) {
  return TextExtent(text).cx;
}

ProgressWindow::ProgressWindow(std::string caption, std::int32_t width, std::int32_t height)
    : caption_(std::move(caption)), width_(width), height_(height) {
  const char* window_class =
      win32::UseWindowClass(kProgressWindowClass, &ProgressWindowProcedure, COLOR_BTNFACE);
  if (window_class == nullptr) return;
  window_ =
      ::CreateWindowExA(kDialogExStyle, window_class, caption_.c_str(), kDialogStyle, left_, top_,
                        width_, height_, nullptr, nullptr, win32::LibraryModule(), nullptr);
}

ProgressWindow::~ProgressWindow() {
  win32::DestroyLibraryWindow(Frame(window_));
  if (visible_) Notify(VM316_NOTICE_PROGRESS_HIDE, caption_, label_);
}

std::int32_t ProgressWindow::SetLabel(std::int32_t left, std::int32_t top, std::string text) {
  label_ = std::move(text);
  const SIZE extent = TextExtent(label_);
  if (window_ != nullptr) {
    // The label sizes itself to its text.
    const HWND label =
        ::CreateWindowExA(0, "STATIC", label_.c_str(), WS_CHILD | WS_VISIBLE, left, top, extent.cx,
                          extent.cy, Frame(window_), nullptr, win32::LibraryModule(), nullptr);
    if (label != nullptr) {
      ::SendMessageA(label, WM_SETFONT, reinterpret_cast<WPARAM>(DialogFont()), FALSE);
    }
  }
  return extent.cx;
}

void ProgressWindow::SetBounds(std::int32_t left, std::int32_t top, std::int32_t width,
                               std::int32_t height) {
  left_ = left;
  top_ = top;
  width_ = width;
  height_ = height;
  if (window_ != nullptr) {
    ::SetWindowPos(Frame(window_), nullptr, left, top, width, height,
                   SWP_NOZORDER | SWP_NOACTIVATE);
  }
}

void ProgressWindow::ShowAndRepaint() {
  if (visible_) return;
  visible_ = true;
  if (window_ != nullptr) {
    ::ShowWindow(Frame(window_), SW_SHOW);
    ::RedrawWindow(Frame(window_), nullptr, nullptr,
                   RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_UPDATENOW | RDW_ALLCHILDREN);
  }
  Notify(VM316_NOTICE_PROGRESS_SHOW, caption_, label_);
}

}  // namespace vm316::platform

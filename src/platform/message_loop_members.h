// What every message loop shares: the one loop of the library, made on first use and released
// at unload, and the members of Timer and MessageWindow, which register with it. Included once,
// at the end of the platform's own message_loop.cpp, whose MessageLoop class declares Instance
// and Release, holds instance_ and provides ReleaseWindowClasses, Add, Remove and Post; so both
// loops keep this glue in one place.
#pragma once

namespace vm316::platform {

MessageLoop& MessageLoop::Instance() {
  if (instance_ == nullptr) instance_ = new MessageLoop();
  return *instance_;
}

void MessageLoop::Release() {
  delete instance_;
  instance_ = nullptr;
  ReleaseWindowClasses();
}

void ReleaseMessageLoop() {
  MessageLoop::Release();
}

Timer::Timer(std::function<void()> on_timer) : on_timer_(std::move(on_timer)) {
  MessageLoop::Instance().Add(this);
}

Timer::~Timer() {
  MessageLoop::Instance().Remove(this);
}

MessageWindow::MessageWindow(Handler handler) : handler_(std::move(handler)) {
  MessageLoop::Instance().Add(this);
}

MessageWindow::~MessageWindow() {
  MessageLoop::Instance().Remove(this);
}

PostResult PostWindowMessage(std::uint32_t message, std::uintptr_t wparam, std::intptr_t lparam) {
  return MessageLoop::Instance().Post(message, wparam, lparam);
}

}  // namespace vm316::platform

#include "standins/engine/win32_dispatcher.h"

#include <iostream>
#include <utility>

namespace standin {

namespace {

constexpr UINT kRunTaskMessage = WM_APP + 1;
constexpr wchar_t kWindowClass[] = L"TarvexStandinDispatcher";

}  // namespace

Dispatcher& Dispatcher::Get() {
  // Never freed: tasks may still be posted while the process ends.
  static Dispatcher* dispatcher = new Dispatcher();
  return *dispatcher;
}

Dispatcher::Dispatcher() {
  WNDCLASSW window_class = {};
  window_class.lpfnWndProc = WindowProc;
  window_class.hInstance = GetModuleHandleW(nullptr);
  window_class.lpszClassName = kWindowClass;
  RegisterClassW(&window_class);
  window_ = CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                            GetModuleHandleW(nullptr), nullptr);
  if (window_ == nullptr) {
    const DWORD error = GetLastError();
    std::cerr << "tarvex stand-in engine: cannot create the dispatcher window, error " << error << std::endl;
  }
}

void Dispatcher::Post(std::function<void()> task) {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    tasks_.push_back(std::move(task));
  }
  PostMessageW(window_, kRunTaskMessage, 0, 0);
}

UINT_PTR Dispatcher::StartTimer(UINT milliseconds, std::function<void()> task) {
  const UINT_PTR timer_id = next_timer_id_++;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    timers_[timer_id] = std::move(task);
  }
  SetTimer(window_, timer_id, milliseconds, nullptr);
  return timer_id;
}

void Dispatcher::StopTimer(UINT_PTR timer_id) {
  KillTimer(window_, timer_id);
  std::lock_guard<std::mutex> guard(mutex_);
  timers_.erase(timer_id);
}

void Dispatcher::RunOneTask() {
  std::function<void()> task;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (tasks_.empty()) {
      return;
    }
    task = std::move(tasks_.front());
    tasks_.pop_front();
  }
  task();
}

void Dispatcher::RunTimer(UINT_PTR timer_id) {
  KillTimer(window_, timer_id);
  std::function<void()> task;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    auto found = timers_.find(timer_id);
    if (found == timers_.end()) {
      return;
    }
    task = std::move(found->second);
    timers_.erase(found);
  }
  task();
}

LRESULT CALLBACK Dispatcher::WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == kRunTaskMessage) {
    Get().RunOneTask();
    return 0;
  }
  if (message == WM_TIMER) {
    Get().RunTimer(static_cast<UINT_PTR>(wparam));
    return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

}  // namespace standin

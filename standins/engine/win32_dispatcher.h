#pragma once

#include <windows.h>

#include <deque>
#include <functional>
#include <map>
#include <mutex>

namespace standin {

// Runs the stand-in's work on the platform thread, from that thread's
// message loop: posted tasks and one-shot timers, through a message-only
// window. Made on first use, by the thread that creates the first engine.
class Dispatcher {
 public:
  static Dispatcher& Get();

  // Runs `task` later on the platform thread, never inside this call. Any
  // thread may post.
  void Post(std::function<void()> task);

  // Runs `task` once after `milliseconds` on the platform thread; returns an
  // id for StopTimer. Platform thread only.
  UINT_PTR StartTimer(UINT milliseconds, std::function<void()> task);
  void StopTimer(UINT_PTR timer_id);

 private:
  Dispatcher();
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  void RunOneTask();
  void RunTimer(UINT_PTR timer_id);

  HWND window_ = nullptr;
  std::mutex mutex_;
  std::deque<std::function<void()>> tasks_;
  std::map<UINT_PTR, std::function<void()>> timers_;
  UINT_PTR next_timer_id_ = 1;
};

}  // namespace standin

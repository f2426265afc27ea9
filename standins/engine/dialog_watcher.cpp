// Message boxes are found by a watcher thread rather than a hook: it sees
// boxes of every thread of the process, including those shown before the
// platform thread gets back to its message loop.

#include "standins/engine/dialog_watcher.h"
#include "standins/engine/win32_text.h"

#include <windows.h>

#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "standins/engine/script_commands.h"

namespace standin {

namespace {

using Clock = std::chrono::steady_clock;

// A message box gets this long on screen before it is answered, so that a
// person watching the display sees it.
constexpr std::chrono::milliseconds kDismissDelay(200);
constexpr DWORD kPollMilliseconds = 50;
// The static control that holds a message box's text.
constexpr int kMessageBoxTextId = 0xFFFF;

struct WatcherState {
  std::mutex mutex;
  std::shared_ptr<Transcript> transcript;
  bool running = false;
};

WatcherState& State() {
  // Never freed: the watcher thread runs until the process ends.
  static WatcherState* state = new WatcherState();
  return *state;
}

// The text of a window of another thread; bounded, so a hung owner cannot
// stop the watcher.
std::wstring ReadWindowText(HWND window) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 1000, &length)) {
    return std::wstring();
  }
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  DWORD_PTR copied = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]),
                           SMTO_ABORTIFHUNG, 1000, &copied)) {
    return std::wstring();
  }
  text.resize(static_cast<size_t>(copied));
  return text;
}

// The icon a message box shows: the handle its icon control holds, which
// Windows takes from the shared system icons (the same handle LoadIcon gives
// here, since shared icons are loaded once per process).
struct IconSearch {
  HICON icon = nullptr;
};

BOOL CALLBACK FindShownIcon(HWND control, LPARAM search) {
  wchar_t class_name[16] = {};
  GetClassNameW(control, class_name, 16);
  const LONG style = GetWindowLongW(control, GWL_STYLE);
  if (lstrcmpiW(class_name, L"Static") != 0 || (style & SS_TYPEMASK) != SS_ICON ||
      !IsWindowVisible(control)) {
    return TRUE;
  }
  DWORD_PTR icon = 0;
  if (SendMessageTimeoutW(control, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, 1000, &icon) && icon != 0) {
    reinterpret_cast<IconSearch*>(search)->icon = reinterpret_cast<HICON>(icon);
    return FALSE;
  }
  return TRUE;
}

// "error", "warning", "information", "question", "none" when the box shows
// no icon, "other" for an icon of the box's owner.
std::string IconName(HWND box) {
  IconSearch search;
  EnumChildWindows(box, FindShownIcon, reinterpret_cast<LPARAM>(&search));
  if (search.icon == nullptr) {
    return "none";
  }
  const struct {
    LPCWSTR id;
    const char* name;
  } system_icons[] = {
      {IDI_ERROR, "error"},
      {IDI_WARNING, "warning"},
      {IDI_INFORMATION, "information"},
      {IDI_QUESTION, "question"},
  };
  for (const auto& system_icon : system_icons) {
    if (LoadIconW(nullptr, system_icon.id) == search.icon) {
      return system_icon.name;
    }
  }
  return "other";
}

BOOL CALLBACK CollectMessageBox(HWND window, LPARAM found) {
  DWORD process_id = 0;
  GetWindowThreadProcessId(window, &process_id);
  if (process_id != GetCurrentProcessId() || !IsWindowVisible(window)) {
    return TRUE;
  }
  wchar_t class_name[16] = {};
  GetClassNameW(window, class_name, 16);
  if (std::wstring(class_name) == L"#32770") {
    reinterpret_cast<std::vector<HWND>*>(found)->push_back(window);
  }
  return TRUE;
}

void RecordAndDismiss(HWND box) {
  const std::string caption = ToUtf8(ReadWindowText(box));
  std::string text;
  HWND text_control = GetDlgItem(box, kMessageBoxTextId);
  if (text_control != nullptr) {
    text = ToUtf8(ReadWindowText(text_control));
  }
  const std::string icon = IconName(box);
  std::shared_ptr<Transcript> transcript;
  {
    std::lock_guard<std::mutex> guard(State().mutex);
    transcript = State().transcript;
  }
  if (transcript) {
    transcript->WriteLine(DialogLine(caption, text) + " | icon " + icon);
  }
  PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
}

DWORD WINAPI Watch(void* /*unused*/) {
  struct Seen {
    Clock::time_point since;
    bool dismissed = false;
  };
  std::map<HWND, Seen> seen;
  for (;;) {
    Sleep(kPollMilliseconds);
    std::vector<HWND> boxes;
    EnumWindows(CollectMessageBox, reinterpret_cast<LPARAM>(&boxes));
    const Clock::time_point now = Clock::now();
    std::map<HWND, Seen> still_open;
    for (HWND box : boxes) {
      auto found = seen.find(box);
      Seen entry = found == seen.end() ? Seen{now, false} : found->second;
      if (!entry.dismissed && now - entry.since >= kDismissDelay) {
        RecordAndDismiss(box);
        entry.dismissed = true;
      }
      still_open[box] = entry;
    }
    seen.swap(still_open);
  }
}

}  // namespace

void AcceptDialogs(std::shared_ptr<Transcript> transcript) {
  WatcherState& state = State();
  std::lock_guard<std::mutex> guard(state.mutex);
  state.transcript = std::move(transcript);
  if (!state.running) {
    // A plain Win32 thread: this may run while the library loads, where
    // starting one is allowed (it begins once loading is done).
    HANDLE thread = CreateThread(nullptr, 0, Watch, nullptr, 0, nullptr);
    state.running = thread != nullptr;
    if (thread != nullptr) {
      CloseHandle(thread);
    }
  }
}

}  // namespace standin

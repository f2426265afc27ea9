#include "standins/engine/win32_window_commands.h"

#include "standins/engine/win32_view.h"

namespace standin {

namespace {

std::string RectangleText(const RECT& rect) {
  return std::to_string(rect.left) + " " + std::to_string(rect.top) + " " +
         std::to_string(rect.right - rect.left) + " " + std::to_string(rect.bottom - rect.top);
}

std::string Report(HWND top_level, HWND view) {
  RECT window_rect = {};
  GetWindowRect(top_level, &window_rect);
  RECT client = {};
  GetClientRect(top_level, &client);
  // The view's place in the top-level window's client area.
  RECT view_rect = {};
  GetWindowRect(view, &view_rect);
  MapWindowPoints(nullptr, top_level, reinterpret_cast<POINT*>(&view_rect), 2);
  return "window " + RectangleText(window_rect) + (IsWindowVisible(top_level) ? " visible" : " hidden") +
         " client " + std::to_string(client.right - client.left) + " " +
         std::to_string(client.bottom - client.top) + " view " + RectangleText(view_rect) +
         (GetFocus() == view ? " focus" : " nofocus");
}

std::string ResultLine(LRESULT result) { return "window result " + std::to_string(result); }

}  // namespace

std::string RunWindowCommand(HWND view, const ScriptCommand& command) {
  HWND top_level = view != nullptr ? GetAncestor(view, GA_ROOT) : nullptr;
  if (top_level == nullptr || top_level == ParkingWindow()) {
    return "window none";
  }
  const std::vector<int64_t>& numbers = command.numbers;
  switch (command.window_action) {
    case ScriptCommand::WindowAction::kReport:
      return Report(top_level, view);
    case ScriptCommand::WindowAction::kResize:
      SetWindowPos(top_level, nullptr, 0, 0, static_cast<int>(numbers[0]), static_cast<int>(numbers[1]),
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
      return std::string();
    case ScriptCommand::WindowAction::kFocus:
      SetFocus(top_level);
      return std::string();
    case ScriptCommand::WindowAction::kSend:
      return ResultLine(SendMessageW(top_level, static_cast<UINT>(numbers[0]),
                                     static_cast<WPARAM>(numbers[1]), static_cast<LPARAM>(numbers[2])));
    case ScriptCommand::WindowAction::kDpiChanged: {
      RECT suggested = {static_cast<LONG>(numbers[1]), static_cast<LONG>(numbers[2]),
                        static_cast<LONG>(numbers[3]), static_cast<LONG>(numbers[4])};
      const WORD dpi = static_cast<WORD>(numbers[0]);
      return ResultLine(
          SendMessageW(top_level, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested)));
    }
  }
  return std::string();
}

}  // namespace standin

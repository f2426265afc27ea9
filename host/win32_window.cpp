#include "host/win32_window.h"

#include <dwmapi.h>

#include "embedding/flutter_windows.h"

namespace {

constexpr wchar_t kWindowClassName[] = L"FLUTTER_RUNNER_WIN32_WINDOW";

// The executable's icon group in tarvex.rc.
constexpr WORD kAppIconResource = 101;

// DWMWA_USE_IMMERSIVE_DARK_MODE, which older SDK headers do not name.
constexpr DWORD kDwmUseImmersiveDarkMode = 20;

constexpr wchar_t kThemeKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize";
constexpr wchar_t kThemeValue[] = L"AppsUseLightTheme";

// Window objects alive: the class is unregistered when the last one goes.
int g_active_window_count = 0;

using EnableNonClientDpiScalingFunction = BOOL(WINAPI*)(HWND);

// Scales the title bar and frame with the monitor's DPI where Windows offers
// it (Windows 10 1607 on); elsewhere they stay unscaled.
void EnableNonClientScaling(HWND window) {
  HMODULE user32 = LoadLibraryA("User32.dll");
  if (user32 == nullptr) {
    return;
  }
  auto enable = reinterpret_cast<EnableNonClientDpiScalingFunction>(
      reinterpret_cast<void*>(GetProcAddress(user32, "EnableNonClientDpiScaling")));
  if (enable != nullptr) {
    enable(window);
  }
  FreeLibrary(user32);
}

int Scale(unsigned int value, double scale) { return static_cast<int>(value * scale); }

}  // namespace

// Registers the window class on first use and forgets it when the last window
// object is gone, so a later Create registers it again.
class WindowClassRegistration {
 public:
  // Never freed: windows may be created and destroyed until the process ends.
  static WindowClassRegistration* GetInstance() {
    static WindowClassRegistration* instance = new WindowClassRegistration();
    return instance;
  }

  const wchar_t* GetWindowClass() {
    if (!class_registered_) {
      WNDCLASSW window_class = {};
      window_class.style = CS_HREDRAW | CS_VREDRAW;
      window_class.lpfnWndProc = Win32Window::WndProc;
      window_class.cbClsExtra = 0;
      window_class.cbWndExtra = 0;
      window_class.hInstance = GetModuleHandleW(nullptr);
      window_class.hIcon = LoadIconW(window_class.hInstance, MAKEINTRESOURCEW(kAppIconResource));
      window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
      window_class.hbrBackground = nullptr;
      window_class.lpszMenuName = nullptr;
      window_class.lpszClassName = kWindowClassName;
      RegisterClassW(&window_class);
      class_registered_ = true;
    }
    return kWindowClassName;
  }

  void UnregisterWindowClass() {
    UnregisterClassW(kWindowClassName, nullptr);
    class_registered_ = false;
  }

 private:
  WindowClassRegistration() = default;

  bool class_registered_ = false;
};

Win32Window::Win32Window() { ++g_active_window_count; }

Win32Window::~Win32Window() {
  // Counted out first, so the class goes with the last object even though
  // its native window still exists until Destroy.
  --g_active_window_count;
  Destroy();
}

bool Win32Window::Create(const std::wstring& title, const Point& origin, const Size& size) {
  Destroy();
  const wchar_t* window_class = WindowClassRegistration::GetInstance()->GetWindowClass();

  const POINT target_point = {static_cast<LONG>(origin.x), static_cast<LONG>(origin.y)};
  HMONITOR monitor = MonitorFromPoint(target_point, MONITOR_DEFAULTTONEAREST);
  const UINT dpi = FlutterDesktopGetDpiForMonitor(monitor);
  const double scale = dpi / 96.0;

  // Not visible: Show comes once the content has drawn its first frame.
  HWND window = CreateWindowExW(0, window_class, title.c_str(), WS_OVERLAPPEDWINDOW, Scale(origin.x, scale),
                                Scale(origin.y, scale), Scale(size.width, scale), Scale(size.height, scale),
                                nullptr, nullptr, GetModuleHandleW(nullptr), this);
  if (window == nullptr) {
    return false;
  }
  UpdateTheme(window);
  return OnCreate();
}

bool Win32Window::Show() { return ShowWindow(window_handle_, SW_SHOWNORMAL); }

LRESULT CALLBACK Win32Window::WndProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) noexcept {
  if (message == WM_NCCREATE) {
    // A window is bound once, to the object that created it. A second
    // WM_NCCREATE (anyone can send one) must not hand it to another object.
    if (GetWindowLongPtrW(window, GWLP_USERDATA) != 0) {
      return TRUE;
    }
    // A window of this class created without an object (or a WM_NCCREATE
    // sent without a create struct) stays unbound and gets default handling.
    const auto* create_struct = reinterpret_cast<const CREATESTRUCTW*>(lparam);
    if (create_struct == nullptr || create_struct->lpCreateParams == nullptr) {
      return DefWindowProcW(window, message, wparam, lparam);
    }
    auto* that = static_cast<Win32Window*>(create_struct->lpCreateParams);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(that));
    EnableNonClientScaling(window);
    that->window_handle_ = window;
    return DefWindowProcW(window, message, wparam, lparam);
  }
  // Messages before WM_NCCREATE find no object yet.
  if (auto* that = reinterpret_cast<Win32Window*>(GetWindowLongPtrW(window, GWLP_USERDATA))) {
    return that->MessageHandler(window, message, wparam, lparam);
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

LRESULT Win32Window::MessageHandler(HWND window, UINT message, WPARAM wparam, LPARAM lparam) noexcept {
  switch (message) {
    case WM_DESTROY:
      window_handle_ = nullptr;
      Destroy();
      if (quit_on_close_) {
        PostQuitMessage(0);
      }
      return 0;

    case WM_SIZE: {
      const RECT rect = GetClientArea();
      if (child_content_ != nullptr) {
        MoveWindow(child_content_, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, TRUE);
      }
      return 0;
    }

    case WM_ACTIVATE:
      if (child_content_ != nullptr) {
        SetFocus(child_content_);
      }
      return 0;

    case WM_DPICHANGED: {
      // Windows always points at the suggested rectangle; a message sent by
      // anyone else without one changes nothing.
      const auto* suggested = reinterpret_cast<const RECT*>(lparam);
      if (suggested != nullptr) {
        SetWindowPos(window, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                     suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
      }
      return 0;
    }

    case WM_DWMCOLORIZATIONCOLORCHANGED:
      UpdateTheme(window_handle_);
      return 0;

    default:
      return DefWindowProcW(window_handle_, message, wparam, lparam);
  }
}

bool Win32Window::OnCreate() { return true; }

void Win32Window::OnDestroy() {}

void Win32Window::Destroy() {
  OnDestroy();
  if (window_handle_ != nullptr) {
    DestroyWindow(window_handle_);
    window_handle_ = nullptr;
  }
  // The child went with the window, or was taken away before: a window
  // created later must not move or focus that handle.
  child_content_ = nullptr;
  if (g_active_window_count == 0) {
    WindowClassRegistration::GetInstance()->UnregisterWindowClass();
  }
}

void Win32Window::SetChildContent(HWND content) {
  child_content_ = content;
  SetParent(content, window_handle_);
  const RECT frame = GetClientArea();
  MoveWindow(content, frame.left, frame.top, frame.right - frame.left, frame.bottom - frame.top, TRUE);
  SetFocus(child_content_);
}

RECT Win32Window::GetClientArea() const {
  RECT frame = {};
  GetClientRect(window_handle_, &frame);
  return frame;
}

void Win32Window::UpdateTheme(HWND window) {
  DWORD light_mode = 0;
  DWORD light_mode_size = sizeof(light_mode);
  const LSTATUS status = RegGetValueW(HKEY_CURRENT_USER, kThemeKey, kThemeValue, RRF_RT_REG_DWORD, nullptr,
                                      &light_mode, &light_mode_size);
  // Without the value the title bar stays as the system draws it.
  if (status == ERROR_SUCCESS) {
    const BOOL enable_dark_mode = light_mode == 0;
    DwmSetWindowAttribute(window, kDwmUseImmersiveDarkMode, &enable_dark_mode, sizeof(enable_dark_mode));
  }
}

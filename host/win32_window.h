#pragma once

#include <windows.h>

#include <string>

// The program's top-level window: per-monitor DPI aware, with a title bar
// that follows the user's light or dark app theme, and one child window that
// fills its client area. Subclasses hook creation, destruction and messages.
class Win32Window {
 public:
  // In 96-DPI units; Create scales them to the monitor.
  struct Point {
    unsigned int x;
    unsigned int y;
  };
  struct Size {
    unsigned int width;
    unsigned int height;
  };

  Win32Window();
  virtual ~Win32Window();

  Win32Window(const Win32Window&) = delete;
  Win32Window& operator=(const Win32Window&) = delete;

  // Creates the window hidden, scaled by the DPI of the monitor nearest to
  // `origin`, and runs OnCreate. False when either fails. A window the object
  // already has is destroyed first.
  bool Create(const std::wstring& title, const Point& origin, const Size& size);

  // ShowWindow's result: whether the window was visible before.
  bool Show();

  // Runs OnDestroy and destroys the native window; the window class goes
  // when no window object is left.
  void Destroy();

  // Makes `content` a child filling the client area and gives it the focus.
  void SetChildContent(HWND content);

  HWND GetHandle() const { return window_handle_; }

  // Whether destroying the native window ends the message loop.
  void SetQuitOnClose(bool quit_on_close) { quit_on_close_ = quit_on_close; }

  RECT GetClientArea() const;

 protected:
  // Handles the window's messages after creation; the base handles sizing,
  // focus, DPI changes, theme changes and destruction.
  virtual LRESULT MessageHandler(HWND window, UINT message, WPARAM wparam, LPARAM lparam) noexcept;

  // After the native window exists; false makes Create fail.
  virtual bool OnCreate();

  // Before the native window is destroyed.
  virtual void OnDestroy();

 private:
  friend class WindowClassRegistration;

  // The window procedure of the class: routes each message to the object
  // stored with the window at creation.
  static LRESULT CALLBACK WndProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) noexcept;

  // A dark title bar when the user's apps use the dark theme.
  static void UpdateTheme(HWND window);

  bool quit_on_close_ = false;
  HWND window_handle_ = nullptr;
  HWND child_content_ = nullptr;
};

#include "standins/engine/win32_view.h"

#include <iostream>
#include <string>

namespace standin {

namespace {

constexpr wchar_t kViewClass[] = L"TarvexStandinView";
constexpr wchar_t kParkingClass[] = L"TarvexStandinParking";

LRESULT CALLBACK ViewWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(window, &paint);
      RECT client;
      GetClientRect(window, &client);
      HBRUSH background = CreateSolidBrush(RGB(0x1E, 0x2A, 0x3A));
      FillRect(dc, &client, background);
      DeleteObject(background);
      const std::wstring text =
          L"Tarvex stand-in engine, frame " + std::to_wstring(GetWindowLongPtrW(window, GWLP_USERDATA));
      SetBkMode(dc, TRANSPARENT);
      SetTextColor(dc, RGB(0xF0, 0xF0, 0xF0));
      DrawTextW(dc, text.c_str(), -1, &client, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
      EndPaint(window, &paint);
      return 0;
    }
    default:
      return DefWindowProcW(window, message, wparam, lparam);
  }
}

void RegisterClasses() {
  static bool registered = false;
  if (registered) {
    return;
  }
  registered = true;
  WNDCLASSW view_class = {};
  view_class.lpfnWndProc = ViewWindowProc;
  view_class.hInstance = GetModuleHandleW(nullptr);
  view_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  view_class.lpszClassName = kViewClass;
  RegisterClassW(&view_class);
  WNDCLASSW parking_class = {};
  parking_class.lpfnWndProc = DefWindowProcW;
  parking_class.hInstance = GetModuleHandleW(nullptr);
  parking_class.lpszClassName = kParkingClass;
  RegisterClassW(&parking_class);
}

}  // namespace

HWND ParkingWindow() {
  static HWND parking = nullptr;
  if (parking == nullptr || !IsWindow(parking)) {
    RegisterClasses();
    parking = CreateWindowExW(0, kParkingClass, L"", WS_OVERLAPPED, 0, 0, 0, 0, nullptr, nullptr,
                              GetModuleHandleW(nullptr), nullptr);
  }
  return parking;
}

HWND CreateViewWindow(int width, int height) {
  RegisterClasses();
  // A child window from the start, so that the host's SetParent makes it a
  // proper child of its window without restyling it.
  HWND view = CreateWindowExW(0, kViewClass, L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, 0, 0, width,
                              height, ParkingWindow(), nullptr, GetModuleHandleW(nullptr), nullptr);
  if (view == nullptr) {
    const DWORD error = GetLastError();
    std::cerr << "tarvex stand-in engine: cannot create the view window, error " << error << std::endl;
  }
  return view;
}

void PaintViewFrame(HWND view, int frame_number) {
  SetWindowLongPtrW(view, GWLP_USERDATA, frame_number);
  InvalidateRect(view, nullptr, FALSE);
  UpdateWindow(view);
}

}  // namespace standin

#include "standins/engine/win32_view.h"

#include <iostream>
#include <string>
#include <vector>

#include "standins/engine/win32_text.h"

namespace standin {

namespace {

constexpr wchar_t kViewClass[] = L"TarvexStandinView";
constexpr wchar_t kParkingClass[] = L"TarvexStandinParking";

constexpr COLORREF kBackground = RGB(0x1E, 0x2A, 0x3A);
constexpr COLORREF kRule = RGB(0x3A, 0x4C, 0x62);
constexpr COLORREF kHeader = RGB(0xF0, 0xF0, 0xF0);
constexpr COLORREF kStatus = RGB(0x9F, 0xB3, 0xC8);

COLORREF ToneColour(DisplayTone tone) {
  switch (tone) {
    case DisplayTone::kCall:
      return RGB(0xE4, 0xEC, 0xF4);
    case DisplayTone::kSuccess:
      return RGB(0x6F, 0xD0, 0x8C);
    case DisplayTone::kError:
      return RGB(0xFF, 0x7A, 0x7A);
    case DisplayTone::kQuiet:
      return RGB(0x8A, 0x9B, 0xB0);
    case DisplayTone::kService:
      return RGB(0x7F, 0xD4, 0xE8);
    case DisplayTone::kNote:
      return RGB(0xF2, 0xC9, 0x4C);
  }
  return kHeader;
}

int CALLBACK NoteFace(const LOGFONTW* /*font*/, const TEXTMETRICW* /*metrics*/, DWORD /*type*/,
                      LPARAM found) {
  *reinterpret_cast<bool*>(found) = true;
  return 0;
}

// The first of `faces` the system has (Windows has the first, Wine on Linux
// usually one of the later ones); the last otherwise.
const wchar_t* AvailableFace(HDC dc, const std::vector<const wchar_t*>& faces) {
  for (const wchar_t* face : faces) {
    LOGFONTW wanted = {};
    wanted.lfCharSet = DEFAULT_CHARSET;
    lstrcpynW(wanted.lfFaceName, face, LF_FACESIZE);
    bool found = false;
    EnumFontFamiliesExW(dc, &wanted, NoteFace, reinterpret_cast<LPARAM>(&found), 0);
    if (found) {
      return face;
    }
  }
  return faces.back();
}

struct Fonts {
  HFONT header;
  HFONT status;
  HFONT entry;
};

// Made once and kept for the process: every view paints with them.
const Fonts& ViewFonts(HDC dc) {
  static const Fonts fonts = [dc] {
    const wchar_t* sans = AvailableFace(dc, {L"Segoe UI", L"DejaVu Sans", L"Tahoma"});
    const wchar_t* mono = AvailableFace(dc, {L"Consolas", L"DejaVu Sans Mono", L"Courier New"});
    const auto make = [](int height, int weight, const wchar_t* face) {
      return CreateFontW(-height, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                         CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH, face);
    };
    return Fonts{make(22, FW_BOLD, sans), make(15, FW_NORMAL, sans), make(15, FW_NORMAL, mono)};
  }();
  return fonts;
}

int LineHeight(HDC dc, HFONT font) {
  SelectObject(dc, font);
  TEXTMETRICW metrics = {};
  GetTextMetricsW(dc, &metrics);
  return metrics.tmHeight + metrics.tmExternalLeading;
}

void DrawLine(HDC dc, const std::string& text, COLORREF colour, RECT rect) {
  const std::wstring wide = FromUtf8(text);
  SetTextColor(dc, colour);
  DrawTextW(dc, wide.c_str(), static_cast<int>(wide.size()), &rect,
            DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
}

// The header, the status line, and as many of the newest lines as fit,
// newest at the bottom.
void PaintLog(HDC dc, const RECT& client, const ViewLog::Snapshot& snapshot) {
  HBRUSH background = CreateSolidBrush(kBackground);
  FillRect(dc, &client, background);
  DeleteObject(background);
  SetBkMode(dc, TRANSPARENT);
  const Fonts& fonts = ViewFonts(dc);
  const int margin = 16;
  const int right = client.right - margin;
  int top = margin;

  const int header_height = LineHeight(dc, fonts.header);
  DrawLine(dc, "Flutter side (scripted)", kHeader, {margin, top, right, top + header_height});
  top += header_height + 2;
  const int status_height = LineHeight(dc, fonts.status);
  DrawLine(dc, snapshot.status, kStatus, {margin, top, right, top + status_height});
  top += status_height + 8;
  RECT rule = {margin, top, right, top + 1};
  HBRUSH rule_brush = CreateSolidBrush(kRule);
  FillRect(dc, &rule, rule_brush);
  DeleteObject(rule_brush);
  top += 9;

  const int line_height = LineHeight(dc, fonts.entry) + 3;
  const int rows = (client.bottom - margin - top) / line_height;
  if (rows <= 0) {
    return;
  }
  const std::vector<DisplayLine>& lines = snapshot.lines;
  if (lines.empty()) {
    DrawLine(dc, "nothing sent yet", ToneColour(DisplayTone::kQuiet),
             {margin, top, right, top + line_height});
    return;
  }
  size_t first = 0;
  if (lines.size() > static_cast<size_t>(rows)) {
    // The newest lines that fit, below a row that counts the rest.
    first = lines.size() - static_cast<size_t>(rows - 1);
    DrawLine(dc, "\xE2\x86\x91 " + std::to_string(first) + " earlier", ToneColour(DisplayTone::kQuiet),
             {margin, top, right, top + line_height});
    top += line_height;
  }
  for (size_t i = first; i < lines.size(); ++i) {
    DrawLine(dc, lines[i].text, ToneColour(lines[i].tone), {margin, top, right, top + line_height});
    top += line_height;
  }
}

ViewLog* LogOf(HWND window) {
  auto* log = reinterpret_cast<std::shared_ptr<ViewLog>*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  return log != nullptr ? log->get() : nullptr;
}

LRESULT CALLBACK ViewWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_NCCREATE: {
      // The window keeps a share of the log until WM_NCDESTROY; the log
      // tells the window to repaint, from whichever thread changed it.
      const auto* given = static_cast<const std::shared_ptr<ViewLog>*>(
          reinterpret_cast<CREATESTRUCTW*>(lparam)->lpCreateParams);
      auto* log = new std::shared_ptr<ViewLog>(*given);
      SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(log));
      (*log)->SetChanged([window] { InvalidateRect(window, nullptr, FALSE); });
      return DefWindowProcW(window, message, wparam, lparam);
    }
    case WM_NCDESTROY: {
      auto* log = reinterpret_cast<std::shared_ptr<ViewLog>*>(GetWindowLongPtrW(window, GWLP_USERDATA));
      SetWindowLongPtrW(window, GWLP_USERDATA, 0);
      if (log != nullptr) {
        (*log)->SetChanged(nullptr);
        delete log;
      }
      return DefWindowProcW(window, message, wparam, lparam);
    }
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(window, &paint);
      RECT client;
      GetClientRect(window, &client);
      ViewLog* log = LogOf(window);
      const ViewLog::Snapshot snapshot = log != nullptr ? log->Take() : ViewLog::Snapshot();
      // Painted off screen first, so a repaint never flickers.
      HDC buffer = CreateCompatibleDC(dc);
      HBITMAP bitmap = CreateCompatibleBitmap(dc, client.right, client.bottom);
      if (buffer != nullptr && bitmap != nullptr) {
        HGDIOBJ old_bitmap = SelectObject(buffer, bitmap);
        HGDIOBJ old_font = SelectObject(buffer, GetStockObject(DEFAULT_GUI_FONT));
        PaintLog(buffer, client, snapshot);
        BitBlt(dc, 0, 0, client.right, client.bottom, buffer, 0, 0, SRCCOPY);
        SelectObject(buffer, old_font);
        SelectObject(buffer, old_bitmap);
      } else {
        PaintLog(dc, client, snapshot);
      }
      if (bitmap != nullptr) {
        DeleteObject(bitmap);
      }
      if (buffer != nullptr) {
        DeleteDC(buffer);
      }
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
  // The layout follows the size: all of it is painted again on a resize.
  view_class.style = CS_HREDRAW | CS_VREDRAW;
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

HWND CreateViewWindow(int width, int height, std::shared_ptr<ViewLog> log) {
  RegisterClasses();
  if (!log) {
    log = std::make_shared<ViewLog>(false);
  }
  // A child window from the start, so that the host's SetParent makes it a
  // proper child of its window without restyling it.
  HWND view = CreateWindowExW(0, kViewClass, L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, 0, 0, width,
                              height, ParkingWindow(), nullptr, GetModuleHandleW(nullptr), &log);
  if (view == nullptr) {
    const DWORD error = GetLastError();
    std::cerr << "tarvex stand-in engine: cannot create the view window, error " << error << std::endl;
  }
  return view;
}

void PaintViewFrame(HWND view, int frame_number) {
  if (ViewLog* log = LogOf(view)) {
    log->SetFrame(frame_number);
  }
  InvalidateRect(view, nullptr, FALSE);
  UpdateWindow(view);
}

}  // namespace standin

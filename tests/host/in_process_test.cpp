// The host's parts in the test's own process: the top-level window, the
// command-line conversion, and tarvex.exe's resources as Windows reads them.

#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>

#include "host/command_line.h"
#include "host/win32_window.h"

namespace {

constexpr wchar_t kClass[] = L"FLUTTER_RUNNER_WIN32_WINDOW";

class TestWindow : public Win32Window {
 public:
  // The flags of the last position change the window was asked for.
  UINT position_flags = 0;

 protected:
  LRESULT MessageHandler(HWND window, UINT message, WPARAM wparam, LPARAM lparam) noexcept override {
    if (message == WM_WINDOWPOSCHANGING) position_flags = reinterpret_cast<const WINDOWPOS*>(lparam)->flags;
    return Win32Window::MessageHandler(window, message, wparam, lparam);
  }
};

// "x y width height" of a window on the screen, or in `parent`'s client area.
std::string Placement(HWND window, HWND parent = nullptr) {
  RECT rect = {};
  GetWindowRect(window, &rect);
  MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
  return std::to_string(rect.left) + " " + std::to_string(rect.top) + " " +
         std::to_string(rect.right - rect.left) + " " + std::to_string(rect.bottom - rect.top);
}

TEST(Win32WindowTest, CreatesHiddenAtTheOriginAndSizeScaledByTheMonitorDpiTruncatingFractions) {
  SetEnvironmentVariableW(L"TARVEX_STANDIN_DPI", L"110");
  TestWindow window;
  ASSERT_TRUE(window.Create(L"tarvex", {10, 10}, {1280, 720}));
  SetEnvironmentVariableW(L"TARVEX_STANDIN_DPI", nullptr);
  // 110/96: 11.46 and 1466.67 become 11 and 1466, not 1467.
  EXPECT_EQ(Placement(window.GetHandle()), "11 11 1466 825");
  EXPECT_FALSE(IsWindowVisible(window.GetHandle()));
}

TEST(Win32WindowTest, TheClassCarriesTheProgramIconAndGoesWithTheLastWindowObjectNotWithItsNativeWindow) {
  auto first = std::make_unique<TestWindow>();
  auto second = std::make_unique<TestWindow>();
  ASSERT_TRUE(first->Create(L"first", {10, 10}, {200, 100}));
  ASSERT_TRUE(second->Create(L"second", {20, 20}, {200, 100}));
  const LONG style = GetWindowLongW(first->GetHandle(), GWL_STYLE);
  EXPECT_EQ(style & (WS_OVERLAPPEDWINDOW | WS_CHILD | WS_POPUP | WS_VISIBLE), WS_OVERLAPPEDWINDOW);
  WNDCLASSEXW info = {};
  info.cbSize = sizeof(info);
  ASSERT_TRUE(GetClassInfoExW(GetModuleHandleW(nullptr), kClass, &info));
  EXPECT_EQ(info.style, static_cast<UINT>(CS_HREDRAW | CS_VREDRAW));
  // The program's icon group, which this test program carries as well.
  EXPECT_NE(info.hIcon, nullptr);
  EXPECT_EQ(info.hIcon, LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(101)));
  EXPECT_EQ(info.hCursor, LoadCursorW(nullptr, IDC_ARROW));
  EXPECT_EQ(info.hbrBackground, nullptr);

  first->Destroy();
  first.reset();
  DestroyWindow(second->GetHandle());
  EXPECT_TRUE(GetClassInfoExW(GetModuleHandleW(nullptr), kClass, &info)) << "the second object still lives";
  second.reset();
  EXPECT_FALSE(GetClassInfoExW(GetModuleHandleW(nullptr), kClass, &info));
  // Registered again on the next creation.
  TestWindow third;
  EXPECT_TRUE(third.Create(L"third", {10, 10}, {200, 100}));
}

TEST(Win32WindowTest, AWindowIsBoundOnceToTheObjectThatCreatedItAndNeverToNoObject) {
  TestWindow owner;
  TestWindow intruder;
  ASSERT_TRUE(owner.Create(L"owner", {10, 10}, {200, 100}));
  HWND window = owner.GetHandle();
  // Another WM_NCCREATE, naming another object or none, changes nothing.
  CREATESTRUCTW create = {};
  create.lpCreateParams = static_cast<Win32Window*>(&intruder);
  create.lpszName = L"intruder";
  EXPECT_EQ(SendMessageW(window, WM_NCCREATE, 0, reinterpret_cast<LPARAM>(&create)), TRUE);
  EXPECT_EQ(SendMessageW(window, WM_NCCREATE, 0, 0), TRUE);
  EXPECT_EQ(GetWindowLongPtrW(window, GWLP_USERDATA),
            reinterpret_cast<LONG_PTR>(static_cast<Win32Window*>(&owner)));
  EXPECT_EQ(intruder.GetHandle(), nullptr);

  // A window of the class made without an object stays unbound, with default
  // handling, also when a WM_NCCREATE without a create struct comes.
  HWND unbound = CreateWindowExW(0, kClass, L"unbound", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
  SendMessageW(unbound, WM_NCCREATE, 0, 0);
  EXPECT_EQ(GetWindowLongPtrW(unbound, GWLP_USERDATA), 0);
  SendMessageW(unbound, WM_CLOSE, 0, 0);
  EXPECT_FALSE(IsWindow(unbound));
}

TEST(Win32WindowTest, ADpiChangeTakesTheSuggestedRectangleWithoutChangingOrderOrActivation) {
  TestWindow window;
  ASSERT_TRUE(window.Create(L"tarvex", {10, 10}, {200, 100}));
  // Without the suggested rectangle (anyone can send the message) nothing moves.
  EXPECT_EQ(SendMessageW(window.GetHandle(), WM_DPICHANGED, MAKEWPARAM(144, 144), 0), 0);
  EXPECT_EQ(Placement(window.GetHandle()), "10 10 200 100");
  RECT suggested = {30, 40, 330, 240};
  EXPECT_EQ(SendMessageW(window.GetHandle(), WM_DPICHANGED, 0, reinterpret_cast<LPARAM>(&suggested)), 0);
  EXPECT_EQ(Placement(window.GetHandle()), "30 40 300 200");
  EXPECT_EQ(window.position_flags & (SWP_NOZORDER | SWP_NOACTIVATE),
            static_cast<UINT>(SWP_NOZORDER | SWP_NOACTIVATE));
}

TEST(Win32WindowTest, ASecondCreateForgetsTheChildOfTheFirstWindow) {
  // A child its owner took elsewhere before the window was created again.
  HWND holder = CreateWindowExW(0, L"STATIC", L"", WS_OVERLAPPEDWINDOW, 0, 0, 300, 200, nullptr, nullptr,
                                nullptr, nullptr);
  HWND child = CreateWindowExW(0, L"STATIC", L"", WS_CHILD, 0, 0, 50, 40, holder, nullptr, nullptr, nullptr);
  TestWindow window;
  ASSERT_TRUE(window.Create(L"first", {10, 10}, {400, 300}));
  window.SetChildContent(child);
  SetParent(child, holder);
  MoveWindow(child, 5, 5, 50, 40, FALSE);

  ASSERT_TRUE(window.Create(L"second", {10, 10}, {400, 300}));
  SendMessageW(window.GetHandle(), WM_SIZE, SIZE_RESTORED, MAKELPARAM(400, 300));
  EXPECT_EQ(Placement(child, holder), "5 5 50 40");
  DestroyWindow(holder);
}

TEST(CommandLineTest, WideTextBecomesUtf8AndInvalidUtf16BecomesEmpty) {
  const std::pair<const wchar_t*, std::string> cases[] = {
      {nullptr, ""},
      {L"", ""},
      // A surrogate pair: one four-byte character.
      {L"\xD83D\xDE00", "\xF0\x9F\x98\x80"},
      // Lone surrogates, high and low.
      {L"a\xD800", ""},
      {L"\xDC00z", ""},
  };
  for (const auto& [wide, utf8] : cases) {
    EXPECT_EQ(WideToUtf8(wide), utf8);
  }
}

TEST(ResourcesTest, TheProgramCarriesItsIconAndItsManifest) {
  // Found beside this test program.
  HMODULE program = LoadLibraryExW(L"tarvex.exe", nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(program, nullptr);
  EXPECT_NE(FindResourceW(program, MAKEINTRESOURCEW(101), RT_GROUP_ICON), nullptr);
  HRSRC manifest = FindResourceW(program, MAKEINTRESOURCEW(1), RT_MANIFEST);
  ASSERT_NE(manifest, nullptr);
  const std::string text(static_cast<const char*>(LockResource(LoadResource(program, manifest))),
                         SizeofResource(program, manifest));
  EXPECT_THAT(text, testing::HasSubstr("<requestedExecutionLevel level=\"requireAdministrator\""));
  // Wine reports per-monitor DPI awareness whatever the manifest says.
  EXPECT_THAT(text, testing::HasSubstr(">PerMonitorV2</dpiAwareness>"));
  FreeLibrary(program);
}

}  // namespace

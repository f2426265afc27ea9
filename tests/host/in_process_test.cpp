// The host's parts in the test's own process: the top-level window and tarvex.exe's resources.

#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>

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

TEST(Win32WindowTest, TheClassCarriesTheProgramIconAndGoesWithTheLastWindowObjectNotWithItsNativeWindow) {
  auto first = std::make_unique<TestWindow>();
  auto second = std::make_unique<TestWindow>();
  ASSERT_TRUE(first->Create(L"first", {10, 10}, {200, 100}));
  ASSERT_TRUE(second->Create(L"second", {20, 20}, {200, 100}));
  const LONG style = GetWindowLongW(first->GetHandle(), GWL_STYLE);
  EXPECT_EQ(style & (WS_OVERLAPPEDWINDOW | WS_CHILD | WS_POPUP | WS_VISIBLE), WS_OVERLAPPEDWINDOW);
  WNDCLASSW info = {};
  ASSERT_TRUE(GetClassInfoW(GetModuleHandleW(nullptr), kClass, &info));
  // The program's icon group, which this test program carries as well.
  EXPECT_NE(info.hIcon, nullptr);
  EXPECT_EQ(info.hIcon, LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(101)));
  EXPECT_EQ(info.hCursor, LoadCursorW(nullptr, IDC_ARROW));

  first.reset();
  DestroyWindow(second->GetHandle());
  EXPECT_TRUE(GetClassInfoW(GetModuleHandleW(nullptr), kClass, &info)) << "the second object still lives";
  second.reset();
  EXPECT_FALSE(GetClassInfoW(GetModuleHandleW(nullptr), kClass, &info));
  // Registered again on the next creation.
  TestWindow third;
  EXPECT_TRUE(third.Create(L"third", {10, 10}, {200, 100}));
}

TEST(Win32WindowTest, AWindowIsBoundOnceToTheObjectThatCreatedItAndNeverToNoObject) {
  TestWindow owner;
  TestWindow intruder;
  ASSERT_TRUE(owner.Create(L"owner", {10, 10}, {200, 100}));
  // Another WM_NCCREATE, naming another object, changes nothing.
  CREATESTRUCTW create = {};
  create.lpCreateParams = static_cast<Win32Window*>(&intruder);
  EXPECT_EQ(SendMessageW(owner.GetHandle(), WM_NCCREATE, 0, reinterpret_cast<LPARAM>(&create)), TRUE);
  EXPECT_EQ(intruder.GetHandle(), nullptr);

  // A window of the class made without an object stays unbound, with default
  // handling, also when a WM_NCCREATE without a create struct comes.
  HWND unbound = CreateWindowExW(0, kClass, L"unbound", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
  SendMessageW(unbound, WM_NCCREATE, 0, 0);
  EXPECT_TRUE(IsWindow(unbound));
  SendMessageW(unbound, WM_CLOSE, 0, 0);
  EXPECT_FALSE(IsWindow(unbound));
}

TEST(Win32WindowTest, ADpiChangeTakesTheSuggestedRectangleWithoutChangingOrderOrActivation) {
  TestWindow window;
  ASSERT_TRUE(window.Create(L"tarvex", {10, 10}, {200, 100}));
  // Without the suggested rectangle (anyone can send the message) nothing moves.
  EXPECT_EQ(SendMessageW(window.GetHandle(), WM_DPICHANGED, MAKEWPARAM(144, 144), 0), 0);
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

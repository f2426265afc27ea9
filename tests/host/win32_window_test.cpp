// The top-level window in-process: placement for the monitor's DPI, the
// window class's life, and what closing does.

#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "host/win32_window.h"

namespace {

class TestWindow : public Win32Window {
 public:
  explicit TestWindow(bool create_succeeds = true) : create_succeeds_(create_succeeds) {}

  // The flags of the last position change the window was asked for.
  UINT position_flags = 0;

 protected:
  bool OnCreate() override { return create_succeeds_; }

  LRESULT MessageHandler(HWND window, UINT message, WPARAM wparam, LPARAM lparam) noexcept override {
    if (message == WM_WINDOWPOSCHANGING) {
      position_flags = reinterpret_cast<const WINDOWPOS*>(lparam)->flags;
    }
    return Win32Window::MessageHandler(window, message, wparam, lparam);
  }

 private:
  bool create_succeeds_;
};

bool ClassRegistered() {
  WNDCLASSEXW info = {};
  info.cbSize = sizeof(info);
  return GetClassInfoExW(GetModuleHandleW(nullptr), L"FLUTTER_RUNNER_WIN32_WINDOW", &info) != 0;
}

class Win32WindowTest : public testing::Test {
 protected:
  void TearDown() override { SetEnvironmentVariableW(L"TARVEX_STANDIN_DPI", nullptr); }
};

TEST_F(Win32WindowTest, CreatesHiddenAtTheOriginAndSizeScaledByTheMonitorDpiTruncatingFractions) {
  struct Case {
    const wchar_t* dpi;
    RECT expected;
  };
  const Case cases[] = {
      {L"96", {10, 10, 10 + 1280, 10 + 720}},
      {L"120", {12, 12, 12 + 1600, 12 + 900}},
      {L"144", {15, 15, 15 + 1920, 15 + 1080}},
      // 110/96: 11.46 and 1466.67 become 11 and 1466, not 1467.
      {L"110", {11, 11, 11 + 1466, 11 + 825}},
  };
  for (const Case& test_case : cases) {
    SetEnvironmentVariableW(L"TARVEX_STANDIN_DPI", test_case.dpi);
    TestWindow window;
    ASSERT_TRUE(window.Create(L"tarvex", {10, 10}, {1280, 720}));
    RECT placed = {};
    GetWindowRect(window.GetHandle(), &placed);
    const std::string dpi(test_case.dpi, test_case.dpi + wcslen(test_case.dpi));
    EXPECT_EQ(placed.left, test_case.expected.left) << dpi;
    EXPECT_EQ(placed.top, test_case.expected.top) << dpi;
    EXPECT_EQ(placed.right, test_case.expected.right) << dpi;
    EXPECT_EQ(placed.bottom, test_case.expected.bottom) << dpi;
    EXPECT_FALSE(IsWindowVisible(window.GetHandle())) << dpi;
  }
}

TEST_F(Win32WindowTest, TheClassIsUnregisteredWithTheLastWindowObjectNotWithItsNativeWindow) {
  auto first = std::make_unique<TestWindow>();
  auto second = std::make_unique<TestWindow>();
  ASSERT_TRUE(first->Create(L"first", {10, 10}, {200, 100}));
  ASSERT_TRUE(second->Create(L"second", {20, 20}, {200, 100}));
  EXPECT_TRUE(ClassRegistered());

  first->Destroy();
  EXPECT_EQ(first->GetHandle(), nullptr);
  EXPECT_TRUE(ClassRegistered());
  first.reset();
  EXPECT_TRUE(ClassRegistered()) << "the second window object still lives";
  DestroyWindow(second->GetHandle());
  EXPECT_TRUE(ClassRegistered()) << "its native window closed, the object lives";
  second.reset();
  EXPECT_FALSE(ClassRegistered());

  // Registered again on the next creation.
  TestWindow third;
  EXPECT_TRUE(third.Create(L"third", {10, 10}, {200, 100}));
  EXPECT_TRUE(ClassRegistered());
}

TEST_F(Win32WindowTest, ClosingPostsTheQuitMessageOnlyWhenAskedTo) {
  for (bool quit_on_close : {false, true}) {
    TestWindow window;
    ASSERT_TRUE(window.Create(L"tarvex", {10, 10}, {200, 100}));
    window.SetQuitOnClose(quit_on_close);
    SendMessageW(window.GetHandle(), WM_CLOSE, 0, 0);
    EXPECT_EQ(window.GetHandle(), nullptr);
    MSG message = {};
    EXPECT_EQ(PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != 0, quit_on_close);
  }
}

TEST_F(Win32WindowTest, TheWindowHasItsTitleStyleAndClassFields) {
  TestWindow window;
  ASSERT_TRUE(window.Create(L"tarvex", {10, 10}, {200, 100}));
  wchar_t title[16] = {};
  GetWindowTextW(window.GetHandle(), title, 16);
  EXPECT_STREQ(title, L"tarvex");
  const LONG style = GetWindowLongW(window.GetHandle(), GWL_STYLE);
  EXPECT_EQ(style & WS_OVERLAPPEDWINDOW, WS_OVERLAPPEDWINDOW);
  EXPECT_EQ(style & (WS_CHILD | WS_POPUP | WS_VISIBLE), 0);

  WNDCLASSEXW info = {};
  info.cbSize = sizeof(info);
  ASSERT_TRUE(GetClassInfoExW(GetModuleHandleW(nullptr), L"FLUTTER_RUNNER_WIN32_WINDOW", &info));
  EXPECT_EQ(info.style, static_cast<UINT>(CS_HREDRAW | CS_VREDRAW));
  EXPECT_EQ(info.cbClsExtra, 0);
  EXPECT_EQ(info.cbWndExtra, 0);
  // The program's icon group, which this test program carries as well.
  EXPECT_NE(info.hIcon, nullptr);
  EXPECT_EQ(info.hIcon, LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(101)));
  EXPECT_EQ(info.hCursor, LoadCursorW(nullptr, IDC_ARROW));
  EXPECT_EQ(info.hbrBackground, nullptr);
  EXPECT_EQ(info.lpszMenuName, nullptr);
}

TEST_F(Win32WindowTest, AWindowIsBoundOnceToTheObjectThatCreatedItAndNeverToNoObject) {
  TestWindow owner;
  ASSERT_TRUE(owner.Create(L"owner", {10, 10}, {200, 100}));
  HWND window = owner.GetHandle();
  const LONG_PTR bound = GetWindowLongPtrW(window, GWLP_USERDATA);
  EXPECT_EQ(bound, reinterpret_cast<LONG_PTR>(static_cast<Win32Window*>(&owner)));

  // Another WM_NCCREATE, naming another object or none, changes nothing.
  TestWindow intruder;
  CREATESTRUCTW create = {};
  create.lpCreateParams = static_cast<Win32Window*>(&intruder);
  create.lpszName = L"intruder";
  EXPECT_EQ(SendMessageW(window, WM_NCCREATE, 0, reinterpret_cast<LPARAM>(&create)), TRUE);
  EXPECT_EQ(SendMessageW(window, WM_NCCREATE, 0, 0), TRUE);
  EXPECT_EQ(GetWindowLongPtrW(window, GWLP_USERDATA), bound);
  EXPECT_EQ(owner.GetHandle(), window);
  EXPECT_EQ(intruder.GetHandle(), nullptr);
  wchar_t title[16] = {};
  GetWindowTextW(window, title, 16);
  EXPECT_STREQ(title, L"owner");

  // A window of the class made without an object stays unbound, with
  // default handling, also when a WM_NCCREATE without a create struct comes.
  HWND unbound = CreateWindowExW(0, L"FLUTTER_RUNNER_WIN32_WINDOW", L"unbound", WS_OVERLAPPEDWINDOW, 0, 0,
                                 200, 100, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(unbound, nullptr);
  GetWindowTextW(unbound, title, 16);
  EXPECT_STREQ(title, L"unbound");
  SendMessageW(unbound, WM_NCCREATE, 0, 0);
  EXPECT_EQ(GetWindowLongPtrW(unbound, GWLP_USERDATA), 0);
  SendMessageW(unbound, WM_CLOSE, 0, 0);
  EXPECT_FALSE(IsWindow(unbound));
  EXPECT_EQ(owner.GetHandle(), window);
}

TEST_F(Win32WindowTest, ADpiChangeTakesTheSuggestedRectangleWithoutChangingOrderOrActivation) {
  TestWindow window;
  ASSERT_TRUE(window.Create(L"tarvex", {10, 10}, {200, 100}));
  RECT suggested = {30, 40, 330, 240};
  EXPECT_EQ(SendMessageW(window.GetHandle(), WM_DPICHANGED, MAKEWPARAM(144, 144),
                         reinterpret_cast<LPARAM>(&suggested)),
            0);
  RECT placed = {};
  GetWindowRect(window.GetHandle(), &placed);
  EXPECT_TRUE(EqualRect(&placed, &suggested));
  EXPECT_EQ(window.position_flags & (SWP_NOZORDER | SWP_NOACTIVATE),
            static_cast<UINT>(SWP_NOZORDER | SWP_NOACTIVATE));
}

TEST_F(Win32WindowTest, ASecondCreateForgetsTheChildOfTheFirstWindow) {
  // A child its owner took elsewhere before the window was created again.
  HWND holder = CreateWindowExW(0, L"STATIC", L"holder", WS_OVERLAPPEDWINDOW, 0, 0, 300, 200, nullptr,
                                nullptr, nullptr, nullptr);
  HWND child =
      CreateWindowExW(0, L"STATIC", L"child", WS_CHILD, 0, 0, 50, 40, holder, nullptr, nullptr, nullptr);
  TestWindow window;
  ASSERT_TRUE(window.Create(L"first", {10, 10}, {400, 300}));
  window.SetChildContent(child);
  SetParent(child, holder);
  MoveWindow(child, 5, 5, 50, 40, FALSE);

  ASSERT_TRUE(window.Create(L"second", {10, 10}, {400, 300}));
  SendMessageW(window.GetHandle(), WM_SIZE, SIZE_RESTORED, MAKELPARAM(400, 300));
  RECT child_rect = {};
  GetWindowRect(child, &child_rect);
  MapWindowPoints(nullptr, holder, reinterpret_cast<POINT*>(&child_rect), 2);
  const RECT unmoved = {5, 5, 55, 45};
  EXPECT_TRUE(EqualRect(&child_rect, &unmoved));
  DestroyWindow(holder);
}

TEST_F(Win32WindowTest, ARefusingCreationHookFailsCreate) {
  TestWindow window(false);
  EXPECT_FALSE(window.Create(L"tarvex", {10, 10}, {200, 100}));
}

}  // namespace

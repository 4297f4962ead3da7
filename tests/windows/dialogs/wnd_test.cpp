// Window classes and plain windows of the dialog framework.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "ui/dialogs/wnd.h"
#include "ui/dialogs/wnd_class.h"

namespace {

std::string ClassName(uint32_t serial) { return "Window Class " + std::to_string(serial); }

TEST(WndClassTest, NamesFollowTheSerialAndEveryRegistrationIsDistinct) {
    uint32_t serial = WndClass::Serial();
    WndClass first;
    WndClass second;
    EXPECT_EQ(first.Name(), ClassName(serial));
    EXPECT_EQ(second.Name(), ClassName(serial + 1));
    EXPECT_EQ(WndClass::Serial(), serial + 2);

    first.Register(nullptr);
    second.Register(nullptr);
    WNDCLASSEXA info{};
    info.cbSize = sizeof info;
    ASSERT_TRUE(::GetClassInfoExA(::GetModuleHandleA(nullptr), first.Name(), &info));
    EXPECT_EQ(info.lpfnWndProc, &WndProc);
    EXPECT_EQ(info.style, static_cast<UINT>(CS_VREDRAW));
    EXPECT_EQ(info.hbrBackground, static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH)));
    EXPECT_EQ(info.hCursor, ::LoadCursorA(nullptr, MAKEINTRESOURCEA(32512)));
    ASSERT_TRUE(::GetClassInfoExA(::GetModuleHandleA(nullptr), second.Name(), &info));
}

// In a fresh process: the first two classes are "Window Class 0" and "1".
TEST(WndClassDeathTest, FirstTwoClassesOfAProcessAreZeroAndOne) {
    EXPECT_EXIT(
        {
            bool fresh = WndClass::Serial() == 0;
            WndClass first;
            WndClass second;
            bool named = std::strcmp(first.Name(), "Window Class 0") == 0 &&
                         std::strcmp(second.Name(), "Window Class 1") == 0;
            ::ExitProcess(fresh && named ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(WndClassTest, GivenDescriptionIsRegisteredUnderTheObjectsOwnName) {
    WNDCLASSEXA given{};
    given.cbSize = 12345;  // corrected by Register
    given.lpfnWndProc = ::DefWindowProcA;
    given.lpszClassName = "Someone Else";
    WndClass windowClass;
    windowClass.Register(&given);
    EXPECT_EQ(windowClass.Description()->cbSize, sizeof(WNDCLASSEXA));
    WNDCLASSEXA info{};
    info.cbSize = sizeof info;
    EXPECT_TRUE(::GetClassInfoExA(::GetModuleHandleA(nullptr), windowClass.Name(), &info));
    EXPECT_FALSE(::GetClassInfoExA(::GetModuleHandleA(nullptr), "Someone Else", &info));
}

TEST(WndTest, DefaultDescriptionIsAVisibleWindowOfNearlyTheWholeScreen) {
    Wnd window;
    uint32_t serial = WndClass::Serial();
    uintptr_t result = window.Create(nullptr, nullptr);
    ASSERT_NE(window.Handle(), nullptr);
    EXPECT_EQ(result, reinterpret_cast<uintptr_t>(window.Handle()));
    EXPECT_EQ(window.ClassName(), ClassName(serial));
    ASSERT_NE(window.Desc(), nullptr);
    EXPECT_STREQ(window.Desc()->title, "Test App");
    EXPECT_EQ(window.Desc()->style, 0x10CF0000u);
    EXPECT_EQ(window.Desc()->x, 100);
    EXPECT_EQ(window.Desc()->width, ::GetSystemMetrics(SM_CXSCREEN) - 200);
    EXPECT_EQ(window.Desc()->height, ::GetSystemMetrics(SM_CYSCREEN) - 200);
    char title[32] = {};
    ::GetWindowTextA(window.Handle(), title, sizeof title);
    EXPECT_STREQ(title, "Test App");
    EXPECT_TRUE(::IsWindowVisible(window.Handle()));
    ::DestroyWindow(window.Handle());
}

TEST(WndTest, DescriptionWithoutClassGetsTheFreshClass) {
    WndDesc desc;
    desc.title = "Undefined";
    Wnd window;
    uint32_t serial = WndClass::Serial();
    window.Create(&desc, nullptr);
    ASSERT_NE(window.Handle(), nullptr);
    EXPECT_EQ(desc.className, ClassName(serial));
    EXPECT_EQ(window.Desc(), &desc);
    EXPECT_FALSE(::IsWindowVisible(window.Handle()));
    char className[64] = {};
    ::GetClassNameA(window.Handle(), className, sizeof className);
    EXPECT_EQ(className, ClassName(serial));
    ::DestroyWindow(window.Handle());
}

TEST(WndTest, FailedCreationReturnsTheLastErrorAndKeepsNoHandle) {
    WndDesc desc;
    desc.className = "No Such Class";
    desc.title = "x";
    Wnd window;
    uintptr_t result = window.Create(&desc, nullptr);
    EXPECT_EQ(window.Handle(), nullptr);
    // Windows reports 1407 (cannot find class), Wine 1411 (class does not exist).
    EXPECT_TRUE(result == ERROR_CANNOT_FIND_WND_CLASS || result == ERROR_CLASS_DOES_NOT_EXIST)
        << result;
}

TEST(WndProcTest, EscapeClosesAndClosingEndsTheProcessWithZero) {
    EXPECT_EXIT(
        {
            Wnd window;
            window.Create(nullptr, nullptr);
            ::SendMessageA(window.Handle(), WM_KEYDOWN, VK_ESCAPE, 0);
            MSG msg;
            while (::GetMessageA(&msg, nullptr, 0, 0) > 0) ::DispatchMessageA(&msg);
            ::ExitProcess(99);  // not reached: WM_CLOSE ends the process
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace

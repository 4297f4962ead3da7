// WndDialog, the dialog registry and DialogProc, with real boxes opened from
// the searching dialog's template on threads of their own.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "dialog_test_support.h"
#include "resources/dialog_123_ids.h"
#include "ui/dialogs/wnd_dialog.h"

namespace {

std::vector<int> calls;
void FirstHandler() { calls.push_back(1); }
void SecondHandler() { calls.push_back(2); }
void ThirdHandler() { calls.push_back(3); }

// Builds a dialog and runs its box on a thread of its own, as the dialog
// threads do: the hidden owner must belong to the thread that runs the box,
// or disabling it while the box is up would wait for the owner's thread.
class BoxThread {
public:
    explicit BoxThread(uint16_t templateId) {
        thread = std::thread([this, templateId] {
            auto* built = new WndDialog(templateId, nullptr);
            dialog.store(built);
            result.store(built->Run(DialogProc));
        });
    }
    ~BoxThread() {
        if (thread.joinable()) thread.join();
    }
    WndDialog* Dialog() {
        WaitUntil([this] { return dialog.load() != nullptr; });
        return dialog.load();
    }
    HWND Box() { return Dialog() ? WaitForBox(Dialog()->Index()) : nullptr; }
    INT_PTR Result() {
        thread.join();
        return result.load();
    }

private:
    std::atomic<WndDialog*> dialog{nullptr};
    std::atomic<INT_PTR> result{-2};
    std::thread thread;
};

TEST(WndDialogTest, EachConstructionTakesTheNextIndexAndAHiddenOwner) {
    uint32_t before = DialogRegistry::Instance().DialogCount();
    WndDialog a(IDD_SEARCHING_DIALOG, nullptr);
    WndDialog b(IDD_SEARCHING_DIALOG, nullptr);
    WndDialog c(IDD_SEARCHING_DIALOG, nullptr);
    EXPECT_EQ(a.Index(), before);
    EXPECT_EQ(b.Index(), before + 1);
    EXPECT_EQ(c.Index(), before + 2);
    EXPECT_EQ(DialogRegistry::Instance().DialogCount(), before + 3);
    EXPECT_EQ(c.TemplateId(), IDD_SEARCHING_DIALOG);

    // Constructing "the same" dialog again gives a new entry; the old one stays.
    a.AddCommand(7, FirstHandler);
    a = WndDialog(IDD_SEARCHING_DIALOG, nullptr);
    EXPECT_EQ(a.Index(), before + 3);
    EXPECT_EQ(DialogRegistry::Instance().CommandCount(before), 1u);
    EXPECT_EQ(DialogRegistry::Instance().CommandCount(a.Index()), 0u);

    HWND owner = c.Owner()->Handle();
    ASSERT_NE(owner, nullptr);
    EXPECT_FALSE(::IsWindowVisible(owner));
    char title[32] = {};
    ::GetWindowTextA(owner, title, sizeof title);
    EXPECT_STREQ(title, "Undefined");
    // Asked for zero size; the system may still give it its minimum size.
    EXPECT_EQ(c.Owner()->Desc()->width, 0);
    EXPECT_EQ(c.Owner()->Desc()->height, 0);
    EXPECT_EQ(::GetWindowThreadProcessId(owner, nullptr), ::GetCurrentThreadId());
}

TEST(WndDialogTest, CommandsRunInIndexAndRegistrationOrderAcrossAllDialogs) {
    // An id of its own: Cancel (2) of a progress dialog built by another test
    // in this process would end the process.
    constexpr uint32_t kCommand = 7001;
    calls.clear();
    WndDialog older(IDD_SEARCHING_DIALOG, nullptr);
    WndDialog newer(IDD_SEARCHING_DIALOG, nullptr);
    newer.AddCommand(kCommand, ThirdHandler);
    older.AddCommand(kCommand, FirstHandler);
    older.AddCommand(kCommand + 1, SecondHandler);
    older.AddCommand(kCommand, SecondHandler);

    EXPECT_EQ(DialogProc(nullptr, WM_COMMAND, kCommand, 0), 1);
    EXPECT_EQ(calls, (std::vector<int>{1, 2, 3}));

    // The whole wParam must match: a notification code in the high word
    // makes it another command.
    calls.clear();
    EXPECT_EQ(DialogProc(nullptr, WM_COMMAND, MAKEWPARAM(kCommand, BN_DOUBLECLICKED), 0), 0);
    EXPECT_EQ(DialogProc(nullptr, WM_COMMAND, kCommand + 2, 0), 0);
    EXPECT_TRUE(calls.empty());
}

TEST(WndDialogTest, DialogProcAnswersAsTheFrameworkPromises) {
    Wnd window;
    window.Create(nullptr, nullptr);
    EXPECT_EQ(DialogProc(window.Handle(), WM_PAINT, 0, 0), 1);
    EXPECT_EQ(DialogProc(window.Handle(), WM_MOUSEMOVE, 0, 0), 0);
    EXPECT_EQ(DialogProc(window.Handle(), WM_SETTEXT, 0, 0), 0);
    ::DestroyWindow(window.Handle());
}

TEST(WndDialogTest, EndFromAnotherThreadClosesTheBoxWithItsResult) {
    BoxThread runner(IDD_SEARCHING_DIALOG);
    HWND box = runner.Box();
    ASSERT_NE(box, nullptr);
    char caption[64] = {};
    ::GetWindowTextA(box, caption, sizeof caption);
    EXPECT_STREQ(caption, "Mirelands Auto Patch");
    EXPECT_EQ(::GetWindow(box, GW_OWNER), runner.Dialog()->Owner()->Handle());

    runner.Dialog()->End(42);
    EXPECT_EQ(runner.Result(), 42);
    runner.Dialog()->End(43);  // after the box is gone: nothing happens
}

TEST(WndDialogTest, CloseBoxEndsTheBoxWithOne) {
    BoxThread runner(IDD_SEARCHING_DIALOG);
    HWND box = runner.Box();
    ASSERT_NE(box, nullptr);
    ::PostMessageA(box, WM_CLOSE, 0, 0);
    EXPECT_EQ(runner.Result(), 1);
}

TEST(WndDialogTest, EndBeforeTheBoxExistsClosesItAsSoonAsItOpens) {
    WndDialog dialog(IDD_SEARCHING_DIALOG, nullptr);
    dialog.End(9);
    EXPECT_EQ(dialog.Run(DialogProc), 9);
    EXPECT_NE(DialogRegistry::Instance().Window(dialog.Index()), nullptr);
}

TEST(WndDialogTest, ABoxThatCannotBeCreatedReleasesTheOpeningLock) {
    WndDialog missing(999, nullptr);  // no such template
    EXPECT_EQ(missing.Run(DialogProc), -1);

    // Another thread must now be able to open a box.
    BoxThread next(IDD_SEARCHING_DIALOG);
    HWND box = next.Box();
    ASSERT_NE(box, nullptr) << "opening lock still held";
    next.Dialog()->End(0);
    EXPECT_EQ(next.Result(), 0);
}

TEST(WndDialogTest, BoxesOpenedAtOnceOnTwoThreadsEachKeepTheirWindow) {
    BoxThread first(IDD_SEARCHING_DIALOG);
    BoxThread second(IDD_SEARCHING_DIALOG);
    HWND firstBox = first.Box();
    HWND secondBox = second.Box();
    ASSERT_NE(firstBox, nullptr);
    ASSERT_NE(secondBox, nullptr);
    EXPECT_NE(firstBox, secondBox);
    EXPECT_EQ(::GetWindow(firstBox, GW_OWNER), first.Dialog()->Owner()->Handle());
    EXPECT_EQ(::GetWindow(secondBox, GW_OWNER), second.Dialog()->Owner()->Handle());
    second.Dialog()->End(2);
    first.Dialog()->End(1);
    EXPECT_EQ(first.Result(), 1);
    EXPECT_EQ(second.Result(), 2);
}

TEST(WndDialogTest, MissingTemplateAsksAndCancelThrows) {
    // Answer the question box from another thread: Cancel, then OK.
    for (int answer : {IDCANCEL, IDOK}) {
        std::atomic<bool> stop{false};
        std::thread robot([&] {
            while (!stop.load()) {
                HWND box = ::FindWindowA("#32770", "Error in WndDialog.");
                if (box && ::IsWindowVisible(box)) {
                    ::PostMessageA(box, WM_COMMAND, answer, 0);
                    return;
                }
                ::Sleep(10);
            }
        });
        uint32_t before = DialogRegistry::Instance().DialogCount();
        if (answer == IDCANCEL) {
            EXPECT_THROW(WndDialog(0, nullptr), std::invalid_argument);
            EXPECT_EQ(DialogRegistry::Instance().DialogCount(), before);
        } else {
            WndDialog dialog(0, nullptr);
            EXPECT_EQ(dialog.Index(), before);
        }
        stop.store(true);
        robot.join();
    }
}

}  // namespace

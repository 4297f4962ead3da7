// The searching and patching dialogs on their threads: how the driver ends
// them, and how the player's Cancel, Escape and close box end them.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "dialog_test_support.h"
#include "resources/dialog_123_ids.h"
#include "ui/dialogs/dialog_threads.h"

namespace {

std::atomic<int> cancelCalls{0};
void CountCancel() { cancelCalls.fetch_add(1); }  // the close box must not get here

ProgressDialog testDialog(IDD_SEARCHING_DIALOG, CountCancel);
std::atomic<INT_PTR> testResult{-2};
std::atomic<bool> testThreadDone{false};

uint32_t TestDialogThread(void*) {
    testResult.store(testDialog.RunOnThisThread());
    testThreadDone.store(true);
    return 1;
}

// Starts the dialog's thread and waits for the box of this start (not one
// left from an earlier start).
HWND StartAndWaitForBox(ProgressDialog& dialog, uint32_t (*thread)(void*)) {
    WndDialog* previous = dialog.Dialog();
    if (!dialog.StartThread(thread)) return nullptr;
    if (!WaitUntil([&] { return dialog.Dialog() != nullptr && dialog.Dialog() != previous; }))
        return nullptr;
    return WaitForBox(dialog.Dialog()->Index());
}

std::string ItemText(HWND box, int id) {
    char text[256] = {};
    ::GetDlgItemTextA(box, id, text, sizeof text);
    return text;
}

TEST(ProgressDialogTest, SearchingDialogShowsItsTextsAndTheDriverEndsIt) {
    HWND box = StartAndWaitForBox(searchingDialog, SearchingDialogThread);
    ASSERT_NE(box, nullptr);
    char caption[64] = {};
    ::GetWindowTextA(box, caption, sizeof caption);
    EXPECT_STREQ(caption, "Mirelands Auto Patch");
    EXPECT_EQ(ItemText(box, 2), "Cancel");
    EXPECT_EQ(ItemText(box, kNoIdStatic), "Now looking for a patch server. Please wait....");

    searchingDialog.End(0);
    EXPECT_TRUE(WaitUntil([&] { return !::IsWindow(box); }));
}

TEST(ProgressDialogTest, PatchingDialogShowsItsTexts) {
    HWND box = StartAndWaitForBox(patchingDialog, PatchingDialogThread);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(ItemText(box, kNoIdStatic),
              "Currently patching. This will take only a short moment. Please Wait...");
    RECT client{};
    ::GetClientRect(box, &client);
    EXPECT_GT(client.right, client.bottom);  // 186 x 58 dialog units
    patchingDialog.End(0);
    EXPECT_TRUE(WaitUntil([&] { return !::IsWindow(box); }));
}

TEST(ProgressDialogTest, EndBeforeTheThreadBuiltTheDialogIsNotLost) {
    testThreadDone.store(false);
    ASSERT_TRUE(testDialog.StartThread(TestDialogThread));
    testDialog.End(0);  // the thread has most likely not constructed anything yet
    ASSERT_TRUE(WaitUntil([] { return testThreadDone.load(); }));
    EXPECT_EQ(testResult.load(), 0);
}

TEST(ProgressDialogTest, EachStartBuildsTheDialogAgainAndOnlyTheLatestIsEnded) {
    testThreadDone.store(false);
    HWND firstBox = StartAndWaitForBox(testDialog, TestDialogThread);
    ASSERT_NE(firstBox, nullptr);
    uint32_t firstIndex = testDialog.Dialog()->Index();
    ::PostMessageA(firstBox, WM_CLOSE, 0, 0);  // the title bar's close box
    ASSERT_TRUE(WaitUntil([] { return testThreadDone.load(); }));
    EXPECT_EQ(testResult.load(), 1);
    EXPECT_EQ(cancelCalls.load(), 0);

    testThreadDone.store(false);
    HWND secondBox = StartAndWaitForBox(testDialog, TestDialogThread);
    EXPECT_NE(testDialog.Dialog()->Index(), firstIndex);
    ASSERT_NE(secondBox, nullptr);
    EXPECT_NE(secondBox, firstBox);
    testDialog.End(0);
    ASSERT_TRUE(WaitUntil([] { return testThreadDone.load(); }));
    EXPECT_EQ(testResult.load(), 0);
}

// Every command search covers every dialog of the process, so this runs in a
// child process in which only the test dialog has registered its Cancel.
void ExitFromHandler() { ::ExitProcess(77); }
ProgressDialog handlerDialog(IDD_SEARCHING_DIALOG, ExitFromHandler);
uint32_t HandlerDialogThread(void*) {
    handlerDialog.RunOnThisThread();
    return 1;
}

TEST(ProgressDialogDeathTest, CancelButtonRunsTheRegisteredHandlerOnTheDialogsThread) {
    EXPECT_EXIT(
        {
            HWND box = StartAndWaitForBox(handlerDialog, HandlerDialogThread);
            if (!box) ::ExitProcess(98);
            ::PostMessageA(::GetDlgItem(box, 2), BM_CLICK, 0, 0);
            ::Sleep(5000);
            ::ExitProcess(99);
        },
        ::testing::ExitedWithCode(77), "");
}

// Cancel and Escape end the whole process with 234, whichever dialog got it.
void ClickCancelOf(ProgressDialog& dialog, uint32_t (*thread)(void*), bool escape) {
    HWND box = StartAndWaitForBox(dialog, thread);
    if (!box) ::ExitProcess(98);
    if (escape)
        ::PostMessageA(box, WM_KEYDOWN, VK_ESCAPE, 0);
    else
        ::PostMessageA(::GetDlgItem(box, 2), BM_CLICK, 0, 0);
    ::Sleep(5000);
    ::ExitProcess(99);
}

TEST(ProgressDialogDeathTest, SearchingCancelEndsTheProcessWith234) {
    EXPECT_EXIT(ClickCancelOf(searchingDialog, SearchingDialogThread, false),
                ::testing::ExitedWithCode(234), "");
}

TEST(ProgressDialogDeathTest, SearchingEscapeEndsTheProcessWith234) {
    EXPECT_EXIT(ClickCancelOf(searchingDialog, SearchingDialogThread, true),
                ::testing::ExitedWithCode(234), "");
}

TEST(ProgressDialogDeathTest, PatchingCancelEndsTheProcessWith234) {
    EXPECT_EXIT(ClickCancelOf(patchingDialog, PatchingDialogThread, false),
                ::testing::ExitedWithCode(234), "");
}

}  // namespace

// The dialog framework's races, with real boxes under Wine: boxes opened on
// two threads at once and ended from another one, an end that comes before
// the box exists (also across a quick restart of a progress dialog), a box
// that cannot be created.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>

#include "resources/dialog_123_ids.h"
#include "ui/dialogs/progress_dialog.h"
#include "ui/dialogs/wnd_dialog.h"

namespace {

bool WaitUntil(const std::function<bool()>& condition) {
    for (int waited = 0; waited < 5000 && !condition(); waited += 10) ::Sleep(10);
    return condition();
}

// A box run on a thread of its own, as the dialog threads run theirs (the
// hidden owner belongs to the thread that runs the box).
struct BoxThread {
    std::atomic<WndDialog*> dialog{nullptr};
    std::atomic<INT_PTR> result{-2};
    std::thread thread{[this] {
        dialog = new WndDialog(IDD_SEARCHING_DIALOG, nullptr);
        result = dialog.load()->Run(DialogProc);
    }};
    ~BoxThread() { thread.join(); }
    HWND Box() {  // once it is shown, else null
        HWND box = nullptr;
        WaitUntil([&] {
            box = dialog ? DialogRegistry::Instance().Window(dialog.load()->Index()) : nullptr;
            return box && ::IsWindowVisible(box);
        });
        return box;
    }
    bool Ended(INT_PTR expected) {
        return WaitUntil([&] { return result == expected; });
    }
};

TEST(DialogFramework, BoxesOpenedAtOnceKeepTheirWindowAndEndFromAnotherThread) {
    BoxThread first, second;
    HWND firstBox = first.Box(), secondBox = second.Box();
    ASSERT_TRUE(firstBox && secondBox);
    EXPECT_NE(firstBox, secondBox);
    EXPECT_EQ(::GetWindow(firstBox, GW_OWNER), first.dialog.load()->Owner()->Handle());
    second.dialog.load()->End(2);
    first.dialog.load()->End(1);
    EXPECT_TRUE(first.Ended(1));
    EXPECT_TRUE(second.Ended(2));
    first.dialog.load()->End(3);  // after the box is gone: nothing happens
}

TEST(DialogFramework, AnEndBeforeTheBoxExistsClosesItAsSoonAsItOpens) {
    WndDialog dialog(IDD_SEARCHING_DIALOG, nullptr);
    dialog.End(9);
    EXPECT_EQ(dialog.Run(DialogProc), 9);
}

void NoCancel() {}
ProgressDialog progress(IDD_SEARCHING_DIALOG, NoCancel);
std::atomic<bool> mayBuild[2];
std::atomic<INT_PTR> progressResult[2] = {{-2}, {-2}};
template <int N>
uint32_t ProgressThread(void* start) {  // builds its box when the test lets it
    while (!mayBuild[N]) ::Sleep(10);
    return uint32_t(progressResult[N] = progress.RunOnThisThread(start));
}

TEST(DialogFramework, AnEndEndsTheProgressBoxOfTheStartItFollowsEvenWhenRestartedAtOnce) {
    // The driver starts, ends and starts again before either thread built its box.
    ASSERT_TRUE(progress.StartThread(ProgressThread<0>));
    progress.End(5);
    ASSERT_TRUE(progress.StartThread(ProgressThread<1>));
    mayBuild[0] = true;
    EXPECT_TRUE(WaitUntil([] { return progressResult[0] == 5; })) << "stray box of the first start";
    mayBuild[1] = true;
    DialogRegistry& registry = DialogRegistry::Instance();
    EXPECT_TRUE(WaitUntil([&] {
        return ::IsWindowVisible(registry.Window(registry.DialogCount() - 1)) != FALSE;
    })) << "the second start's box was ended by the first start's End";
    progress.End(6);
    EXPECT_TRUE(WaitUntil([] { return progressResult[1] == 6; }));
}

TEST(DialogFramework, ABoxThatCannotBeCreatedReleasesTheOpeningLock) {
    WndDialog missing(999, nullptr);  // no such template
    EXPECT_EQ(missing.Run(DialogProc), -1);
    BoxThread next;
    ASSERT_NE(next.Box(), nullptr) << "the opening lock is still held";
    next.dialog.load()->End(0);
    EXPECT_TRUE(next.Ended(0));
}

}  // namespace

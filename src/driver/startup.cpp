#include "startup.h"

#include <cstring>

#include "app_info.h"
#include "install_check.h"
#include "patch_library.h"
#include "driver/registry_bootstrap.h"
#include "run/download_state.h"
#include "run_state.h"
#include "driver/silent_mode.h"
#include "startup_texts.h"
#include "platform/debug.h"
#include "platform/process_end.h"
#include "settings/reg_key_handler.h"
#include "text/language_file.h"

namespace {

// The main window is never shown with content: it only owns the boxes.
constexpr int kCenterWidth = 640;
constexpr int kCenterHeight = 480;

void RegisterMainWindowClass(HINSTANCE instance) {
    WNDCLASSA windowClass = {};
    windowClass.style = CS_VREDRAW;
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = instance;
    windowClass.hCursor = ::LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH));
    windowClass.lpszClassName = kUpdaterWindowClass;
    ::RegisterClassA(&windowClass);  // a failure only leaves the boxes without owner
}

HWND CreateMainWindow(HINSTANCE instance, const char* title) {
    int x = (::GetSystemMetrics(SM_CXSCREEN) - kCenterWidth) / 2;
    int y = (::GetSystemMetrics(SM_CYSCREEN) - kCenterHeight) / 2;
    return ::CreateWindowExA(WS_EX_TRANSPARENT, kUpdaterWindowClass, title, WS_POPUP | WS_VISIBLE,
                             x, y, 0, 0, nullptr, nullptr, instance, nullptr);
}

void CreateApplication(HINSTANCE instance) {
    if (run::appInfo == nullptr) run::appInfo = new AppInfo;
    run::appInfo->SetInstance(instance);
    run::appInfo->SetTitle(kUpdaterTitle);
    RegisterMainWindowClass(instance);
    run::appInfo->SetMainWindow(CreateMainWindow(instance, run::appInfo->GetTitle()));
}

// Without "Language.Txt" the text table answers with its built-in texts.
void OpenTexts() {
    if (!OpenLanguageFile())
        platform::OutputDebugStringA("Language.Txt not found, built-in texts used\r\n");
    for (int i = 0; i < run::kStartupTextCount; ++i) {
        const char* text = GetLanguageText(run::kStartupTextFirst + i);
        std::strncpy(run::startupTexts[i], text, run::kStartupTextSize - 1);
        run::startupTexts[i][run::kStartupTextSize - 1] = '\0';
    }
}

}  // namespace

bool AnotherInstanceRuns() {
    return ::FindWindowA(kUpdaterWindowClass, nullptr) != nullptr ||
           ::FindWindowA(kGameWindowClass, nullptr) != nullptr;
}

void RunStartup(HINSTANCE instance, const char* commandLine) {
    if (AnotherInstanceRuns()) platform::Terminate(ExitCode::kNothingDone);
    run::silentMode = IsSilentCommandLine(commandLine);
    CreateApplication(instance);
    // Now that this run's window keeps a second updater out: an update that
    // replaced this program and its library left their old files behind, and
    // a stopped one left its journal.
    if (const int settled = SettlePatchLibrary(); settled != 0)
        platform::DebugPrintf("settling the install: PATCHW32.dll returned %d\r\n", settled);
    // Asked once a run: a keyed library lets nothing unsigned change the install.
    run::signedOnly.store(PatchLibraryHoldsKeys());
    OpenTexts();
    if (!RunInstallCheck(run::appInfo->GetMainWindow()))
        platform::Terminate(ExitCode::kNothingDone);
    BootstrapRegistry(run::settings, kSettingsKey);
    if (!CopyVersionToRegistry())
        platform::OutputDebugStringA("Version.Txt not found, Version left as it was\r\n");
}

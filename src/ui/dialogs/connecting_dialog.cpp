#include "ui/dialogs/connecting_dialog.h"

#include <string>

#include "run/download_state.h"
#include "ui/progress_line.h"
#include "platform/process_end.h"
#include "resources/dialog_108_ids.h"
#include "text/language_file.h"
#include "text/text_numbers.h"

namespace {

// One text is both the button's caption and the status line while the
// drive lacks room.
constexpr int kPostponeCaptionText = text_number::kPostpone;
constexpr int kNoSpaceText = text_number::kPostpone;

void ShowProgress(HWND window) {
    if (run::downloadStep.ShortOfSpace()) {
        SetDlgItemTextA(window, IDC_CONNECTING_STATUS, GetLanguageText(kNoSpaceText));
        return;
    }
    uint32_t total = run::patchFileSize.load();
    uint32_t received = run::patchBytesReceived.load();
    // Until the header names the file the text keeps what it shows.
    const char* name = run::patchFileName.load();
    if (!name) return;
    std::string format = GetLanguageText(text_number::kProgressFormat);
    std::string line = ProgressLine::Format(format.c_str(), name, received, total);
    SetDlgItemTextA(window, IDC_CONNECTING_STATUS, line.c_str());
}

INT_PTR OnInitDialog(HWND window) {
    std::string caption = GetLanguageText(kPostponeCaptionText);
    SetDlgItemTextA(window, IDC_CONNECTING_POSTPONE, caption.c_str());
    run::dialogWindow.store(window);
    ShowProgress(window);
    return 0;
}

INT_PTR OnPaint(HWND window) {
    if (run::downloadStep.IsStopped()) EndDialog(window, 0);
    ShowProgress(window);
    return 0;  // the default processing paints
}

INT_PTR OnCommand(WPARAM wParam) {
    // Escape and the close box arrive as Cancel and are ignored: only
    // "Postpone patch" leaves, and it ends the whole program.
    if (LOWORD(wParam) == IDC_CONNECTING_POSTPONE) {
        CloseLanguageFile();
        // The receiver may be inside a read: Terminate closes nothing under
        // it. Nothing is lost: the patch file is flushed after every write.
        platform::Terminate(ExitCode::kNotPatched);
    }
    return 0;
}

class ConnectingView : public ReceiverView {
public:
    void ShowProgress() override {
        HWND window = static_cast<HWND>(run::dialogWindow.load());
        if (!window) return;
        InvalidateRect(window, nullptr, FALSE);
        UpdateWindow(window);
    }
    void ShowShortOfSpace() override {
        std::string text = GetLanguageText(kNoSpaceText);
        SetDlgItemTextA(static_cast<HWND>(run::dialogWindow.load()), IDC_CONNECTING_STATUS,
                        text.c_str());
    }
};

}  // namespace

ReceiverView& ConnectingDialogView() {
    static ConnectingView view;
    return view;
}

INT_PTR CALLBACK ConnectingDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            return OnInitDialog(window);
        case WM_PAINT:
            return OnPaint(window);
        case WM_COMMAND:
            return OnCommand(wParam);
        default:
            return 0;
    }
}

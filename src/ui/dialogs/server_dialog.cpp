#include "ui/dialogs/server_dialog.h"

#include <shellapi.h>

#include <ctime>

#include "platform/debug.h"
#include "platform/process_end.h"
#include "resources/dialog_127_ids.h"
#include "run/download_state.h"
#include "run/server_choice.h"
#include "ui/dialogs/server_dialog_layout.h"
#include "text/language_file.h"
#include "ui/server_dialog_model.h"
#include "text/server_table.h"
#include "text/startup_texts.h"

namespace {

constexpr WORD kComboRecheck = 0;  // our own notification code: re-read the combo box

ServerDialogModel& model = run::serverDialogModel;

void EnableItem(HWND dialog, int id, bool enable) {
    ::EnableWindow(::GetDlgItem(dialog, id), enable ? TRUE : FALSE);
}

void PostComboRecheck(HWND dialog) {
    ::PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_SERVER_COMBO, kComboRecheck),
                   reinterpret_cast<LPARAM>(::GetDlgItem(dialog, IDC_SERVER_COMBO)));
}

// Everything but the combo box's text and list, which only an opening sets:
// setting the text while the player types would move the caret.
void ShowView(HWND dialog) {
    const ServerDialogView& view = model.View();
    EnableItem(dialog, IDC_SERVER_COMBO, view.comboEnabled);
    EnableItem(dialog, IDC_SERVER_CONNECT, view.connectEnabled);
    EnableItem(dialog, IDC_SERVER_PROXY_EDIT, view.proxyFieldEnabled);
    ::SetDlgItemTextA(dialog, IDC_SERVER_DESCRIPTION, view.description.c_str());
    ::SetDlgItemTextA(dialog, IDC_SERVER_LINK, view.linkCaption.c_str());
}

void OnInitDialog(HWND dialog) {
    run::dialogWindow.store(dialog);
    ::SetDlgItemTextA(dialog, IDC_SERVER_LABEL, run::startupTexts[kServerLabelText]);
    ::SetDlgItemTextA(dialog, IDC_SERVER_HINT, run::startupTexts[kServerHintText]);
    model.Open(LoadServerList(), static_cast<uint32_t>(std::time(nullptr)));
    const ServerDialogView& view = model.View();
    ::SetDlgItemTextA(dialog, IDC_SERVER_COMBO, view.comboText.c_str());
    for (const std::string& name : view.listed)
        ::SendDlgItemMessageA(dialog, IDC_SERVER_COMBO, CB_ADDSTRING, 0,
                              reinterpret_cast<LPARAM>(name.c_str()));
    ::CheckDlgButton(dialog, IDC_SERVER_PROXY_CHECK,
                     view.proxyChecked ? BST_CHECKED : BST_UNCHECKED);
    ShowView(dialog);
    FitServerDialogLayout(dialog);
    // Runs the combo box command once the dialog is up: Connect's state, the
    // description and the link button then follow the preselected server.
    PostComboRecheck(dialog);
}

void OnConnect(HWND dialog) {
    char combo[run::kAddressSize] = {};
    char proxy[run::kAddressSize] = {};
    ::GetDlgItemTextA(dialog, IDC_SERVER_COMBO, combo, sizeof combo);
    ::GetDlgItemTextA(dialog, IDC_SERVER_PROXY_EDIT, proxy, sizeof proxy);
    // Enter reaches here even while Connect is disabled (no choice).
    if (model.Connect(combo, proxy)) ::EndDialog(dialog, 0);
}

void OnServerCombo(HWND dialog, WORD code) {
    // During a selection change the edit part still shows the old entry.
    if (code == CBN_SELCHANGE) PostComboRecheck(dialog);
    platform::DebugPrintf("Msg ID %d - %d\r\n", code, 1);
    char text[run::kAddressSize] = {};
    ::GetDlgItemTextA(dialog, IDC_SERVER_COMBO, text, sizeof text);
    bool repaint = model.ComboChanged(text);
    ShowView(dialog);
    if (repaint) {
        ::InvalidateRect(dialog, nullptr, FALSE);
        ::UpdateWindow(dialog);
    }
}

[[noreturn]] void CancelRun() {
    CloseLanguageFile();
    platform::Terminate(ExitCode::kNotPatched);
}

void OnCommand(HWND dialog, WPARAM wParam) {
    // The Cancel button and Escape both arrive as command 2 with code 0.
    if (wParam == IDC_SERVER_CANCEL) CancelRun();
    const WORD code = HIWORD(wParam);
    switch (LOWORD(wParam)) {
        case IDC_SERVER_CONNECT:
            OnConnect(dialog);
            break;
        case IDC_SERVER_LINK:
            // A failing "open" is ignored: the dialog stays as it is.
            ::ShellExecuteA(dialog, "open", model.LinkTarget(), nullptr, nullptr, SW_SHOW);
            break;
        case IDC_SERVER_PROXY_CHECK:
            if (code != BN_CLICKED) break;
            model.ProxyClicked();
            ShowView(dialog);
            break;
        case IDC_SERVER_COMBO:
            OnServerCombo(dialog, code);
            break;
        default:
            break;
    }
}

}  // namespace

INT_PTR CALLBACK ServerDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            OnInitDialog(dialog);
            break;
        case WM_COMMAND:
            OnCommand(dialog, wParam);
            break;
        case WM_PAINT: {
            // The controls and the picture draw themselves.
            PAINTSTRUCT paint;
            ::BeginPaint(dialog, &paint);
            ::EndPaint(dialog, &paint);
            break;
        }
        default:
            break;
    }
    return 0;
}

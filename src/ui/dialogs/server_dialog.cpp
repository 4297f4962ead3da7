#include "ui/dialogs/server_dialog.h"

#include <shellapi.h>

#include <cstdint>
#include <cstring>
#include <ctime>

#include "run/download_state.h"
#include "run/server_choice.h"
#include "packet/random_generator.h"
#include "platform/debug.h"
#include "resources/dialog_127_ids.h"
#include "ui/dialogs/server_dialog_layout.h"
#include "ui/language_file.h"
#include "ui/server_table.h"
#include "ui/startup_texts.h"

char shownDescription[kShownDescriptionSize] = {};
char linkTargetText[kLinkTargetSize] = {};

namespace {

constexpr int kCancelExitCode = 234;
constexpr WORD kComboRecheck = 0;  // our own notification code: re-read the combo box
constexpr int kDescriptionTextNumber = 82;
// Descriptions end up in the 500-byte shown description, so they are kept to
// 499 characters everywhere.
constexpr size_t kDescriptionLimit = kShownDescriptionSize - 1;

char* DescriptionBuffer() { return startupTexts[kServerDescriptionText]; }

// Copies at most `limit` characters of `source` and the terminator; `limit`
// must leave room for the terminator in the destination.
void CopyCut(char* destination, const char* source, size_t limit) {
    size_t n = ::strnlen(source, limit);
    std::memcpy(destination, source, n);
    destination[n] = '\0';
}

void EnableItem(HWND dialog, int id, bool enable) {
    ::EnableWindow(::GetDlgItem(dialog, id), enable ? TRUE : FALSE);
}

void PostComboRecheck(HWND dialog) {
    ::PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_SERVER_COMBO, kComboRecheck),
                   reinterpret_cast<LPARAM>(::GetDlgItem(dialog, IDC_SERVER_COMBO)));
}

// Adds every listed server to the combo box once, in random order; the first
// one drawn becomes the choice when none is set yet.
void FillServerList(HWND dialog, int count) {
    RandomGenerator generator(0, static_cast<uint32_t>(count) - 1,
                              static_cast<uint32_t>(std::time(nullptr)));
    bool used[kServerSlots] = {};
    for (int drawn = 0; drawn < count; ++drawn) {
        uint32_t slot;
        do {
            slot = generator.Next();
        } while (slot >= kServerSlots || used[slot]);
        used[slot] = true;
        const char* name = serverTable.slots[slot].name;
        if (run::gameServerAddress[0] == '\0') {
            CopyCut(run::gameServerAddress, name, run::kAddressSize - 1);
            ::SetDlgItemTextA(dialog, IDC_SERVER_COMBO, run::gameServerAddress);
        }
        ::SendDlgItemMessageA(dialog, IDC_SERVER_COMBO, CB_ADDSTRING, 0,
                              reinterpret_cast<LPARAM>(name));
    }
}

void OnInitDialog(HWND dialog) {
    if (run::serverChoiceLocked) EnableItem(dialog, IDC_SERVER_COMBO, false);
    run::dialogWindow.store(dialog);

    ::SetDlgItemTextA(dialog, IDC_SERVER_LINK, startupTexts[kLinkCaptionText]);
    ::SetDlgItemTextA(dialog, IDC_SERVER_COMBO, run::gameServerAddress);
    ::SetDlgItemTextA(dialog, IDC_SERVER_LABEL, startupTexts[kServerLabelText]);
    ::SetDlgItemTextA(dialog, IDC_SERVER_HINT, startupTexts[kServerHintText]);
    ::SetDlgItemTextA(dialog, IDC_SERVER_DESCRIPTION, DescriptionBuffer());

    int count = LoadServerList();
    if (count < 0) {
        if (run::gameServerAddress[0] == '\0') EnableItem(dialog, IDC_SERVER_CONNECT, false);
    } else {
        FillServerList(dialog, count);
    }

    CopyCut(linkTargetText, startupTexts[kLinkTargetText], kLinkTargetSize - 1);

    if (run::proxyEnabled) {
        ::CheckDlgButton(dialog, IDC_SERVER_PROXY_CHECK, BST_CHECKED);
        EnableItem(dialog, IDC_SERVER_PROXY_EDIT, true);
    }
    FitServerDialogLayout(dialog);
    // Runs the combo box command once the dialog is up: Connect's state, the
    // description and the link button then follow the preselected server.
    PostComboRecheck(dialog);
}

void OnConnect(HWND dialog) {
    // Enter reaches here even while Connect is disabled (empty choice).
    if (!::IsWindowEnabled(::GetDlgItem(dialog, IDC_SERVER_CONNECT))) return;
    ::GetDlgItemTextA(dialog, IDC_SERVER_COMBO, run::gameServerAddress, run::kAddressSize);
    ::GetDlgItemTextA(dialog, IDC_SERVER_PROXY_EDIT, run::proxyAddress, run::kAddressSize);
    ::EndDialog(dialog, 0);
}

void OnLinkButton(HWND dialog) {
    // A failing "open" is ignored: the dialog stays as it is.
    ::ShellExecuteA(dialog, "open", linkTargetText, nullptr, nullptr, SW_SHOW);
}

void OnProxyCheck(HWND dialog, WORD code) {
    if (code != BN_CLICKED) return;
    int32_t enabled = run::proxyEnabled == 0 ? 1 : 0;
    run::proxyEnabled = enabled;
    EnableItem(dialog, IDC_SERVER_PROXY_EDIT, enabled != 0);
}

void ShowChosenServer(HWND dialog, const ServerRecord& record) {
    CopyCut(DescriptionBuffer(), record.description, kDescriptionLimit);
    ::SetDlgItemTextA(dialog, IDC_SERVER_DESCRIPTION, DescriptionBuffer());
    CopyCut(linkTargetText, record.linkTarget, kLinkTargetSize - 1);
    ::SetDlgItemTextA(dialog, IDC_SERVER_LINK, record.linkCaption);
}

void OnServerCombo(HWND dialog, WORD code) {
    // During a selection change the edit part still shows the old entry.
    if (code == CBN_SELCHANGE) PostComboRecheck(dialog);
    platform::DebugPrintf("Msg ID %d - %d\r\n", code, 1);

    char text[run::kAddressSize];
    ::GetDlgItemTextA(dialog, IDC_SERVER_COMBO, text, sizeof text);
    CopyCut(DescriptionBuffer(), GetLanguageText(kDescriptionTextNumber), kDescriptionLimit);

    if (text[0] != '\0') {
        EnableItem(dialog, IDC_SERVER_CONNECT, true);
        // A typed address that names no listed server keeps what is shown.
        if (const ServerRecord* record = FindServerRecord(text)) ShowChosenServer(dialog, *record);
    } else {
        EnableItem(dialog, IDC_SERVER_CONNECT, false);
    }

    if (std::strcmp(DescriptionBuffer(), shownDescription) != 0) {
        ::InvalidateRect(dialog, nullptr, FALSE);
        ::UpdateWindow(dialog);
        CopyCut(shownDescription, DescriptionBuffer(), kShownDescriptionSize - 1);
    }
}

[[noreturn]] void CancelRun() {
    CloseLanguageFile();
    ::ExitProcess(kCancelExitCode);
}

void OnCommand(HWND dialog, WPARAM wParam) {
    // The Cancel button and Escape both arrive as command 2 with code 0.
    if (wParam == IDC_SERVER_CANCEL) CancelRun();
    WORD id = LOWORD(wParam);
    WORD code = HIWORD(wParam);
    switch (id) {
        case IDC_SERVER_CONNECT:
            OnConnect(dialog);
            break;
        case IDC_SERVER_LINK:
            OnLinkButton(dialog);
            break;
        case IDC_SERVER_PROXY_CHECK:
            OnProxyCheck(dialog, code);
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

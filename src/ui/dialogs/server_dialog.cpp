#include "ui/dialogs/server_dialog.h"

#include <shellapi.h>

#include <cstdint>
#include <cstring>
#include <ctime>

#include "driver/run_state.h"
#include "packet/random_generator.h"
#include "platform/debug.h"
#include "resources/dialog_127_ids.h"
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

char* descriptionBuffer() { return startupTexts[kServerDescriptionText]; }

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

BOOL CALLBACK FindPicture(HWND child, LPARAM found) {
    char className[16] = {};
    ::GetClassNameA(child, className, sizeof className);
    LONG_PTR style = ::GetWindowLongPtrA(child, GWL_STYLE);
    if (::lstrcmpiA(className, "Static") == 0 && (style & SS_TYPEMASK) == SS_BITMAP) {
        *reinterpret_cast<HWND*>(found) = child;
        return FALSE;
    }
    return TRUE;
}

// A smoothly scaled copy of `original`, width x height pixels.
HBITMAP ScaleBitmap(HWND window, HBITMAP original, int width, int height) {
    BITMAP info{};
    if (!::GetObjectA(original, sizeof info, &info))
        return nullptr;
    HDC screen = ::GetDC(window);
    HDC from = ::CreateCompatibleDC(screen);
    HDC to = ::CreateCompatibleDC(screen);
    HBITMAP scaled = ::CreateCompatibleBitmap(screen, width, height);
    if (scaled) {
        HGDIOBJ oldFrom = ::SelectObject(from, original);
        HGDIOBJ oldTo = ::SelectObject(to, scaled);
        ::SetStretchBltMode(to, HALFTONE);
        ::SetBrushOrgEx(to, 0, 0, nullptr);
        ::StretchBlt(to, 0, 0, width, height, from, 0, 0, info.bmWidth, info.bmHeight, SRCCOPY);
        ::SelectObject(from, oldFrom);
        ::SelectObject(to, oldTo);
    }
    ::DeleteDC(from);
    ::DeleteDC(to);
    ::ReleaseDC(window, screen);
    return scaled;
}

// The picture is 144 x 350 pixels, which is its place of 72 x 175 dialog
// units when the dialog font gives 2 pixels per unit. A font with smaller
// units would let the picture spill over the labels beside it, so it then
// shows a copy scaled into its place.
void FitPicture(HWND dialog) {
    static HBITMAP scaledPicture = nullptr;  // the copy shown by the last showing
    HWND picture = nullptr;
    ::EnumChildWindows(dialog, FindPicture, reinterpret_cast<LPARAM>(&picture));
    if (!picture)
        return;
    RECT place = {1, 1, 1 + 72, 1 + 175};
    ::MapDialogRect(dialog, &place);
    int width = place.right - place.left;
    int height = place.bottom - place.top;
    auto original = reinterpret_cast<HBITMAP>(
        ::SendMessageA(picture, STM_GETIMAGE, IMAGE_BITMAP, 0));
    BITMAP info{};
    if (!original || !::GetObjectA(original, sizeof info, &info))
        return;
    if (info.bmWidth <= width && info.bmHeight <= height)
        return;
    HBITMAP scaled = ScaleBitmap(picture, original, width, height);
    if (!scaled)
        return;
    ::SendMessageA(picture, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(scaled));
    ::SetWindowPos(picture, nullptr, place.left, place.top, width, height,
                   SWP_NOZORDER | SWP_NOACTIVATE);
    // The box of the last showing is gone, and with it the last user of the
    // previous copy.
    if (scaledPicture)
        ::DeleteObject(scaledPicture);
    scaledPicture = scaled;
}

int TextWidth(HWND control, HFONT font, const char* text) {
    HDC dc = ::GetDC(control);
    HGDIOBJ old = ::SelectObject(dc, font);
    SIZE size{};
    ::GetTextExtentPoint32A(dc, text, static_cast<int>(std::strlen(text)), &size);
    ::SelectObject(dc, old);
    ::ReleaseDC(control, dc);
    return size.cx;
}

// The two one-line labels beside the combo box and the proxy field are 41
// units wide. Where the dialog font runs wider than the font they were laid
// out for, a label would wrap and lose its second word; it then gets the
// same face a little smaller, down to three quarters of its size.
void FitLabel(HWND dialog, int id, HFONT* fitted) {
    HWND label = ::GetDlgItem(dialog, id);
    auto font = reinterpret_cast<HFONT>(::SendMessageA(label, WM_GETFONT, 0, 0));
    char text[kStartupTextSize] = {};
    ::GetWindowTextA(label, text, sizeof text);
    RECT client{};
    ::GetClientRect(label, &client);
    LOGFONTA shape{};
    if (!font || !::GetObjectA(font, sizeof shape, &shape) || shape.lfHeight == 0)
        return;
    if (TextWidth(label, font, text) <= client.right)
        return;
    LONG height = shape.lfHeight < 0 ? -shape.lfHeight : shape.lfHeight;
    for (LONG smaller = height - 1; smaller >= height * 3 / 4 && smaller > 0; --smaller) {
        shape.lfHeight = -smaller;
        HFONT candidate = ::CreateFontIndirectA(&shape);
        if (!candidate)
            return;
        if (TextWidth(label, candidate, text) <= client.right || smaller - 1 < height * 3 / 4) {
            ::SendMessageA(label, WM_SETFONT, reinterpret_cast<WPARAM>(candidate), TRUE);
            if (*fitted)
                ::DeleteObject(*fitted);  // the label of the last showing is gone
            *fitted = candidate;
            return;
        }
        ::DeleteObject(candidate);
    }
}

void FitLabels(HWND dialog) {
    static HFONT fittedFonts[2] = {};
    FitLabel(dialog, IDC_SERVER_LABEL, &fittedFonts[0]);
    FitLabel(dialog, IDC_SERVER_PATCH_LABEL, &fittedFonts[1]);
}

void OnInitDialog(HWND dialog) {
    if (run::serverChoiceLocked.load())
        EnableItem(dialog, IDC_SERVER_COMBO, false);
    run::dialogWindow.store(dialog);

    ::SetDlgItemTextA(dialog, IDC_SERVER_LINK, startupTexts[kLinkCaptionText]);
    ::SetDlgItemTextA(dialog, IDC_SERVER_COMBO, run::gameServerAddress);
    ::SetDlgItemTextA(dialog, IDC_SERVER_LABEL, startupTexts[kServerLabelText]);
    ::SetDlgItemTextA(dialog, IDC_SERVER_HINT, startupTexts[kServerHintText]);
    ::SetDlgItemTextA(dialog, IDC_SERVER_DESCRIPTION, descriptionBuffer());

    int count = LoadServerList();
    if (count < 0) {
        if (run::gameServerAddress[0] == '\0')
            EnableItem(dialog, IDC_SERVER_CONNECT, false);
    } else {
        FillServerList(dialog, count);
    }

    CopyCut(linkTargetText, startupTexts[kLinkTargetText], kLinkTargetSize - 1);

    if (run::proxyEnabled.load()) {
        ::CheckDlgButton(dialog, IDC_SERVER_PROXY_CHECK, BST_CHECKED);
        EnableItem(dialog, IDC_SERVER_PROXY_EDIT, true);
    }
    FitPicture(dialog);
    FitLabels(dialog);
    // Runs the combo box command once the dialog is up: Connect's state, the
    // description and the link button then follow the preselected server.
    PostComboRecheck(dialog);
}

void OnConnect(HWND dialog) {
    // Enter reaches here even while Connect is disabled (empty choice).
    if (!::IsWindowEnabled(::GetDlgItem(dialog, IDC_SERVER_CONNECT)))
        return;
    ::GetDlgItemTextA(dialog, IDC_SERVER_COMBO, run::gameServerAddress, run::kAddressSize);
    ::GetDlgItemTextA(dialog, IDC_SERVER_PROXY_EDIT, run::proxyAddress, run::kAddressSize);
    ::EndDialog(dialog, 0);
}

void OnLinkButton(HWND dialog) {
    // A failing "open" is ignored: the dialog stays as it is.
    ::ShellExecuteA(dialog, "open", linkTargetText, nullptr, nullptr, SW_SHOW);
}

void OnProxyCheck(HWND dialog, WORD code) {
    if (code != BN_CLICKED)
        return;
    int32_t enabled = run::proxyEnabled.load() == 0 ? 1 : 0;
    run::proxyEnabled.store(enabled);
    EnableItem(dialog, IDC_SERVER_PROXY_EDIT, enabled != 0);
}

void ShowChosenServer(HWND dialog, const ServerRecord& record) {
    CopyCut(descriptionBuffer(), record.description, kDescriptionLimit);
    ::SetDlgItemTextA(dialog, IDC_SERVER_DESCRIPTION, descriptionBuffer());
    CopyCut(linkTargetText, record.linkTarget, kLinkTargetSize - 1);
    ::SetDlgItemTextA(dialog, IDC_SERVER_LINK, record.linkCaption);
}

void OnServerCombo(HWND dialog, WORD code) {
    // During a selection change the edit part still shows the old entry.
    if (code == CBN_SELCHANGE)
        PostComboRecheck(dialog);
    platform::DebugPrintf("Msg ID %d - %d\r\n", code, 1);

    char text[run::kAddressSize];
    ::GetDlgItemTextA(dialog, IDC_SERVER_COMBO, text, sizeof text);
    CopyCut(descriptionBuffer(), GetLanguageText(kDescriptionTextNumber), kDescriptionLimit);

    if (text[0] != '\0') {
        EnableItem(dialog, IDC_SERVER_CONNECT, true);
        // A typed address that names no listed server keeps what is shown.
        if (const ServerRecord* record = FindServerRecord(text))
            ShowChosenServer(dialog, *record);
    } else {
        EnableItem(dialog, IDC_SERVER_CONNECT, false);
    }

    if (std::strcmp(descriptionBuffer(), shownDescription) != 0) {
        ::InvalidateRect(dialog, nullptr, FALSE);
        ::UpdateWindow(dialog);
        CopyCut(shownDescription, descriptionBuffer(), kShownDescriptionSize - 1);
    }
}

[[noreturn]] void CancelRun() {
    CloseLanguageFile();
    ::ExitProcess(kCancelExitCode);
}

void OnCommand(HWND dialog, WPARAM wParam) {
    // The Cancel button and Escape both arrive as command 2 with code 0.
    if (wParam == IDC_SERVER_CANCEL)
        CancelRun();
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

// robot_target.exe: a dialog with a combo box, an edit, a check box, an
// enabled and a disabled button and a button that opens a message box. It
// prints what the robot did to it, one line per event, so that the robot's
// own tests can check every request against a known window.
#include <windows.h>

#include <cstdio>
#include <initializer_list>

namespace {

constexpr int kCombo = 101;
constexpr int kEnabledButton = 104;
constexpr int kDisabledButton = 105;
constexpr int kBoxButton = 106;
constexpr int kCheckBox = 103;
constexpr int kStatus = 107;

// One event per line; flushed at once, the test reads while we run.
void Log(const char* event, const char* text) {
    std::printf("%s %s\n", event, text);
    std::fflush(stdout);
}

void Log(const char* event, long value) {
    std::printf("%s %ld\n", event, value);
    std::fflush(stdout);
}

void OnCommand(HWND dialog, int id, int code) {
    char text[256] = {};
    if (id == kCombo && code == CBN_EDITCHANGE) {
        GetDlgItemTextA(dialog, kCombo, text, sizeof text);
        Log("edit", text);
    } else if (id == kCheckBox && code == BN_CLICKED) {
        Log("check", long(IsDlgButtonChecked(dialog, kCheckBox)));
    } else if ((id == kEnabledButton || id == kDisabledButton) && code == BN_CLICKED) {
        Log("click", long(id));
        SetDlgItemTextA(dialog, kStatus, id == kEnabledButton ? "Pressed" : "Wrong");
    } else if (id == kBoxButton && code == BN_CLICKED) {
        int result =
            MessageBoxA(dialog, "Hello from the box", "Target Box", MB_OK | MB_ICONEXCLAMATION);
        Log("box", long(result));
    } else if (id == IDOK || id == IDCANCEL) {
        Log("end", long(id));
        EndDialog(dialog, id);
    }
}

INT_PTR CALLBACK TargetProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            for (const char* item : {"Alpha", "Beta", "Gamma"})
                SendDlgItemMessageA(dialog, kCombo, CB_ADDSTRING, 0,
                                    reinterpret_cast<LPARAM>(item));
            return TRUE;
        case WM_COMMAND:
            OnCommand(dialog, LOWORD(wParam), HIWORD(wParam));
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

int main() {
    INT_PTR result =
        DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(1), nullptr, TargetProc, 0);
    return int(result);
}

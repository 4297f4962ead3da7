#include "ui/dialogs/server_dialog_layout.h"

#include <cstring>

#include "resources/dialog_127_ids.h"

namespace {

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
    if (!::GetObjectA(original, sizeof info, &info)) return nullptr;
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
    if (!picture) return;
    RECT place = {1, 1, 1 + 72, 1 + 175};
    ::MapDialogRect(dialog, &place);
    int width = place.right - place.left;
    int height = place.bottom - place.top;
    auto original =
        reinterpret_cast<HBITMAP>(::SendMessageA(picture, STM_GETIMAGE, IMAGE_BITMAP, 0));
    BITMAP info{};
    if (!original || !::GetObjectA(original, sizeof info, &info)) return;
    if (info.bmWidth <= width && info.bmHeight <= height) return;
    HBITMAP scaled = ScaleBitmap(picture, original, width, height);
    if (!scaled) return;
    ::SendMessageA(picture, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(scaled));
    ::SetWindowPos(picture, nullptr, place.left, place.top, width, height,
                   SWP_NOZORDER | SWP_NOACTIVATE);
    // The box of the last showing is gone, and with it the last user of the
    // previous copy.
    if (scaledPicture) ::DeleteObject(scaledPicture);
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
    char text[1000] = {};
    ::GetWindowTextA(label, text, sizeof text);
    RECT client{};
    ::GetClientRect(label, &client);
    LOGFONTA shape{};
    if (!font || !::GetObjectA(font, sizeof shape, &shape) || shape.lfHeight == 0) return;
    if (TextWidth(label, font, text) <= client.right) return;
    LONG height = shape.lfHeight < 0 ? -shape.lfHeight : shape.lfHeight;
    for (LONG smaller = height - 1; smaller >= height * 3 / 4 && smaller > 0; --smaller) {
        shape.lfHeight = -smaller;
        HFONT candidate = ::CreateFontIndirectA(&shape);
        if (!candidate) return;
        if (TextWidth(label, candidate, text) <= client.right || smaller - 1 < height * 3 / 4) {
            ::SendMessageA(label, WM_SETFONT, reinterpret_cast<WPARAM>(candidate), TRUE);
            if (*fitted) ::DeleteObject(*fitted);  // the label of the last showing is gone
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

}  // namespace

void FitServerDialogLayout(HWND dialog) {
    FitPicture(dialog);
    FitLabels(dialog);
}

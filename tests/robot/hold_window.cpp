// hold_window.exe <class>: registers the window class named on the command
// line, creates one top-level window of it (titled with the class name),
// prints "ready" and runs until the window is closed or the process killed.
// It stands for another running updater or the running game client.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

LRESULT CALLBACK HolderProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) {
        ::PostQuitMessage(0);
        return 0;
    }
    return ::DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 || argv[1][0] == '\0') {
        std::fprintf(stderr, "usage: hold_window <class name>\n");
        return 2;
    }
    std::string className = argv[1];
    HINSTANCE instance = ::GetModuleHandleA(nullptr);
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = HolderProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = className.c_str();
    if (!::RegisterClassA(&windowClass)) {
        std::fprintf(stderr, "cannot register %s\n", className.c_str());
        return 3;
    }
    HWND window = ::CreateWindowExA(0, className.c_str(), className.c_str(), WS_POPUP, 0, 0, 10, 10,
                                    nullptr, nullptr, instance, nullptr);
    if (window == nullptr) {
        std::fprintf(stderr, "cannot create the window\n");
        return 4;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    MSG message;
    while (::GetMessageA(&message, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&message);
        ::DispatchMessageA(&message);
    }
    return 0;
}

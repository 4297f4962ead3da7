// demo_opener.exe: a stand-in for the program the shell opens .txt files with
// (a headless run has no editor to show the release notes in), also served as
// a patch or downgrade program by the functional tests. It appends its command
// line to the file named by MRL_DEMO_OPENED, in one write (several starts may
// race for the file), and ends.
#include <windows.h>

#include <cstdio>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    char path[MAX_PATH];
    DWORD length = ::GetEnvironmentVariableA("MRL_DEMO_OPENED", path, sizeof path);
    if (length == 0 || length >= sizeof path) return 1;
    HANDLE file = ::CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    char line[4096];
    int size = std::snprintf(line, sizeof line, "%s\r\n", ::GetCommandLineA());
    if (size < 0 || size >= int(sizeof line)) size = int(sizeof line) - 1;
    DWORD written = 0;
    ::WriteFile(file, line, DWORD(size), &written, nullptr);
    ::CloseHandle(file);
    return 0;
}

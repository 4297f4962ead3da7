// recorder.exe: appends its own command line, one line per start, to the
// file named by the environment variable MRL_RECORDER_LOG (else
// "recorder.log" in the current directory) and exits with 0.
// The functional tests register it as the program that opens .txt files,
// so that they see what the updater hands to the shell, and serve copies of
// it as patch programs and downgrade programs, so that they see them start.
#include <windows.h>

#include <cstdio>
#include <cstring>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    char path[MAX_PATH] = "recorder.log";
    DWORD length = ::GetEnvironmentVariableA("MRL_RECORDER_LOG", path, sizeof path);
    if (length == 0 || length >= sizeof path) std::strcpy(path, "recorder.log");
    // Several starts may race for the file: append in one write each.
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

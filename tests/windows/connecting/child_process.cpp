#include "child_process.h"

#include <cstdlib>
#include <vector>

std::string ChildScene() {
    const char* scene = std::getenv("MRL_CHILD");
    return scene ? scene : "";
}

long RunChild(const std::string& scene, const std::string& testName,
              const std::function<void(DWORD)>& watch) {
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string command = std::string("\"") + self + "\" --gtest_filter=" + testName;
    std::vector<char> line(command.begin(), command.end());
    line.push_back('\0');
    SetEnvironmentVariableA("MRL_CHILD", scene.c_str());
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    BOOL started = CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                  nullptr, &startup, &process);
    SetEnvironmentVariableA("MRL_CHILD", nullptr);
    if (!started) return -2;
    watch(process.dwProcessId);
    long code = -1;
    if (WaitForSingleObject(process.hProcess, 20000) == WAIT_OBJECT_0) {
        DWORD exitCode = 0;
        GetExitCodeProcess(process.hProcess, &exitCode);
        code = long(exitCode);
    } else {
        TerminateProcess(process.hProcess, 1);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
}

namespace {
struct Search {
    DWORD pid;
    const char* caption;
    HWND found;
};
BOOL CALLBACK Visit(HWND window, LPARAM param) {
    Search* search = reinterpret_cast<Search*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    char className[64] = {};
    char caption[256] = {};
    GetClassNameA(window, className, sizeof className);
    GetWindowTextA(window, caption, sizeof caption);
    if ((search->pid == 0 || pid == search->pid) && IsWindowVisible(window) &&
        std::string(className) == "#32770" && std::string(caption) == search->caption) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}
}  // namespace

HWND WaitForDialog(DWORD pid, const char* caption, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    for (;;) {
        Search search{pid, caption, nullptr};
        EnumWindows(Visit, reinterpret_cast<LPARAM>(&search));
        if (search.found) return search.found;
        if (GetTickCount() - start > timeoutMs) return nullptr;
        Sleep(20);
    }
}

std::string ItemText(HWND dialog, int item) {
    char text[512] = {};
    GetDlgItemTextA(dialog, item, text, sizeof text);
    return text;
}

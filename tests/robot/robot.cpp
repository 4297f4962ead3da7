// robot.exe: works the windows of the program under test in the same Wine
// prefix, as a player would. One request per line on stdin, fields separated
// by TAB; one reply line per request: "ok" or "err", then TAB-separated
// fields in which backslash, CR, LF and TAB are written \\ \r \n \t.
//   wait <ms> <class> <captions> [<id>]
//                                 first visible, enabled top-level window of
//                                 the class whose caption is one of the
//                                 "|"-separated captions (and that has a
//                                 control of that id): handle and caption
//   gone <ms> <hwnd>              waits until the window no longer exists
//   text <hwnd> <id>              the text of a control
//   click <hwnd> <id>             presses a button (refused when disabled)
//   settext <hwnd> <id> <text>    replaces the text of a control
//   escape <hwnd>                 the Escape key
//   close <hwnd>                  the title bar's close box
//   hold <class>                  a hidden window of that class, kept until
//                                 the robot ends (another updater, the game)
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using Fields = std::vector<std::string>;

std::string Escape(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\t')
            out += "\\t";
        else
            out += c;
    }
    return out;
}

void Reply(const Fields& fields) {
    std::string line;
    for (const std::string& field : fields) line += (line.empty() ? "" : "\t") + Escape(field);
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

HWND Handle(const std::string& text) {
    return reinterpret_cast<HWND>(static_cast<uintptr_t>(std::strtoull(text.c_str(), nullptr, 10)));
}

std::string TextOf(HWND window) {
    char text[4096] = {};
    ::GetWindowTextA(window, text, sizeof text);
    return text;
}

struct Match {
    std::string className, captions;
    int control = 0;
    HWND found = nullptr;
};

BOOL CALLBACK MatchTopLevel(HWND window, LPARAM param) {
    Match* match = reinterpret_cast<Match*>(param);
    char className[256] = {};
    ::GetClassNameA(window, className, sizeof className);
    // A box disables its owner: "enabled" picks the box when both share a caption.
    if (!::IsWindowVisible(window) || !::IsWindowEnabled(window) || match->className != className)
        return TRUE;
    if (("|" + match->captions + "|").find("|" + TextOf(window) + "|") == std::string::npos)
        return TRUE;
    if (match->control && !::GetDlgItem(window, match->control)) return TRUE;
    match->found = window;
    return FALSE;
}

// Polls `done` every 20 ms for up to `ms` milliseconds.
template <typename Done>
bool Poll(const std::string& ms, Done done) {
    DWORD start = ::GetTickCount(), limit = std::strtoul(ms.c_str(), nullptr, 10);
    while (!done()) {
        if (::GetTickCount() - start >= limit) return false;
        ::Sleep(20);
    }
    return true;
}

LRESULT CALLBACK HeldWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return ::DefWindowProcA(window, message, wParam, lParam);
}

void Hold(const std::string& className) {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = HeldWindowProc;
    windowClass.hInstance = ::GetModuleHandleA(nullptr);
    windowClass.lpszClassName = className.c_str();
    bool made = ::RegisterClassA(&windowClass) &&
                ::CreateWindowExA(0, className.c_str(), className.c_str(), WS_POPUP, 0, 0, 10, 10,
                                  nullptr, nullptr, windowClass.hInstance, nullptr);
    Reply({made ? "ok" : "err"});
}

void Dispatch(const Fields& f) {
    const std::string& command = f[0];
    if (command == "hold") return Hold(f[1]);
    if (command == "wait") {
        Match match{f[2], f[3], std::atoi(f[4].c_str())};
        bool found = Poll(f[1], [&] {
            ::EnumWindows(MatchTopLevel, reinterpret_cast<LPARAM>(&match));
            return match.found != nullptr;
        });
        if (!found) return Reply({"err", "timeout"});
        return Reply(
            {"ok", std::to_string(reinterpret_cast<uintptr_t>(match.found)), TextOf(match.found)});
    }
    if (command == "gone") {
        HWND window = Handle(f[2]);
        return Reply({Poll(f[1], [&] { return !::IsWindow(window); }) ? "ok" : "err"});
    }
    HWND window = Handle(f[1]);
    if (!::IsWindow(window)) return Reply({"err", "no window"});
    // Posted, not sent: the handler may open a modal box and not return for a while.
    if (command == "escape")
        return Reply({::PostMessageA(window, WM_KEYDOWN, VK_ESCAPE, 0) ? "ok" : "err"});
    if (command == "close")
        return Reply({::PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0) ? "ok" : "err"});
    HWND control = ::GetDlgItem(window, std::atoi(f[2].c_str()));
    if (!control) return Reply({"err", "no control"});
    if (command == "text") return Reply({"ok", TextOf(control)});
    if (command == "settext") {
        DWORD_PTR result = 0;
        bool sent =
            ::SendMessageTimeoutA(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(f[3].c_str()),
                                  SMTO_ABORTIFHUNG, 2000, &result);
        return Reply({sent ? "ok" : "err"});
    }
    // BM_CLICK presses a disabled button too; a player could not.
    if (command == "click" && ::IsWindowEnabled(control))
        return Reply({::PostMessageA(control, BM_CLICK, 0, 0) ? "ok" : "err"});
    Reply({"err", "refused"});
}

}  // namespace

int main() {
    char line[8192];
    while (std::fgets(line, sizeof line, stdin)) {
        std::string request(line);
        while (!request.empty() && (request.back() == '\n' || request.back() == '\r'))
            request.pop_back();
        Fields fields;
        for (size_t start = 0;;) {
            size_t tab = request.find('\t', start);
            fields.push_back(request.substr(start, tab - start));
            if (tab == std::string::npos) break;
            start = tab + 1;
        }
        fields.resize(std::max<size_t>(fields.size(), 5));  // absent fields read as empty
        Dispatch(fields);
    }
    return 0;
}

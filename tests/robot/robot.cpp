// robot.exe: drives the windows of another program in the same Wine prefix
// for the functional tests. Reads requests from stdin, answers on stdout
// (see robot_protocol.h). Requests:
//   wait <ms> <class> <caption>   first visible and enabled top-level window
//                                 (empty class or caption: any), polled
//   find <class> <caption>        FindWindowA, visible or not
//   windows                       every visible top-level window
//   controls <hwnd>               child controls: id class text enabled
//                                 visible checked(-1 when not a button) hwnd
//   caption <hwnd>                class and window text
//   owner <hwnd>                  the owner window: hwnd class text (0 none)
//   screen                        screen width and height
//   text <hwnd> <id>              GetDlgItemTextA
//   combo <hwnd> <id>             current text, then every list item
//   type <hwnd> <id> <text>       select all, then WM_CHAR per character
//                                 (into the Edit child of a combo box)
//   settext <hwnd> <id> <text>    SetDlgItemTextA (no change notification)
//   click <hwnd> <id>             BM_CLICK, posted; refused when disabled
//   escape <hwnd>                 the Escape key
//   close <hwnd>                  the title bar's close box (SC_CLOSE)
//   wmclose <hwnd>                WM_CLOSE
//   rect <hwnd>                   left top right bottom
//   state <hwnd>                  exists visible enabled (0/1 each)
//   gone <ms> <hwnd>              waits until the window no longer exists
//   xid <hwnd>                    the X11 window id (0 without X)
//   quit
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "robot_protocol.h"

namespace {

constexpr DWORD kPollMs = 20;
constexpr UINT kSendTimeoutMs = 2000;

using Fields = std::vector<std::string>;

void Reply(const Fields& fields) {
    std::printf("%s\n", JoinFields(fields).c_str());
    std::fflush(stdout);
}
void ReplyError(const std::string& reason) { Reply({"err", reason}); }

std::string HandleText(HWND window) { return std::to_string(reinterpret_cast<uintptr_t>(window)); }
HWND ParseHandle(const std::string& text) {
    return reinterpret_cast<HWND>(static_cast<uintptr_t>(std::strtoull(text.c_str(), nullptr, 10)));
}

std::string ClassOf(HWND window) {
    char name[256] = {};
    ::GetClassNameA(window, name, sizeof name);
    return name;
}

// WM_GETTEXT is marshalled across processes; GetWindowTextA alone would only
// give the caption the system keeps for another process's window.
std::string TextOf(HWND window) {
    char text[4096] = {};
    DWORD_PTR result = 0;
    if (!::SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text),
                               SMTO_ABORTIFHUNG, kSendTimeoutMs, &result))
        ::GetWindowTextA(window, text, sizeof text);
    return text;
}

LRESULT SendWithTimeout(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR result = 0;
    ::SendMessageTimeoutA(window, message, wParam, lParam, SMTO_ABORTIFHUNG, kSendTimeoutMs,
                          &result);
    return static_cast<LRESULT>(result);
}

struct Match {
    std::string className;
    std::string caption;
    HWND found = nullptr;
};

BOOL CALLBACK MatchTopLevel(HWND window, LPARAM param) {
    Match* match = reinterpret_cast<Match*>(param);
    // A box disables its owner: "enabled" picks the box when both share a caption.
    if (!::IsWindowVisible(window) || !::IsWindowEnabled(window)) return TRUE;
    if (!match->className.empty() && ClassOf(window) != match->className) return TRUE;
    if (!match->caption.empty() && TextOf(window) != match->caption) return TRUE;
    match->found = window;
    return FALSE;
}

void CommandWait(const Fields& f) {
    if (f.size() < 4) return ReplyError("usage: wait ms class caption");
    DWORD timeout = std::strtoul(f[1].c_str(), nullptr, 10);
    DWORD start = ::GetTickCount();
    for (;;) {
        Match match{f[2], f[3]};
        ::EnumWindows(MatchTopLevel, reinterpret_cast<LPARAM>(&match));
        if (match.found) return Reply({"ok", HandleText(match.found)});
        if (::GetTickCount() - start >= timeout) return ReplyError("timeout");
        ::Sleep(kPollMs);
    }
}

void CommandFind(const Fields& f) {
    if (f.size() < 3) return ReplyError("usage: find class caption");
    HWND window =
        ::FindWindowA(f[1].empty() ? nullptr : f[1].c_str(), f[2].empty() ? nullptr : f[2].c_str());
    if (!window) return ReplyError("none");
    Reply({"ok", HandleText(window)});
}

BOOL CALLBACK CollectWindow(HWND window, LPARAM param) {
    reinterpret_cast<std::vector<HWND>*>(param)->push_back(window);
    return TRUE;
}

void CommandWindows() {
    std::vector<HWND> all, shown;
    ::EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&all));
    for (HWND window : all)
        if (::IsWindowVisible(window)) shown.push_back(window);
    Reply({"ok", std::to_string(shown.size())});
    for (HWND window : shown)
        Reply({HandleText(window), ClassOf(window), TextOf(window),
               ::IsWindowEnabled(window) ? "1" : "0"});
}

std::string CheckedState(HWND control) {
    if (ClassOf(control) != "Button") return "-1";
    return std::to_string(SendWithTimeout(control, BM_GETCHECK, 0, 0));
}

void CommandControls(const Fields& f) {
    if (f.size() < 2) return ReplyError("usage: controls hwnd");
    HWND parent = ParseHandle(f[1]);
    if (!::IsWindow(parent)) return ReplyError("no window");
    std::vector<HWND> children;
    ::EnumChildWindows(parent, CollectWindow, reinterpret_cast<LPARAM>(&children));
    Reply({"ok", std::to_string(children.size())});
    for (HWND child : children)
        Reply({std::to_string(::GetDlgCtrlID(child)), ClassOf(child), TextOf(child),
               ::IsWindowEnabled(child) ? "1" : "0", ::IsWindowVisible(child) ? "1" : "0",
               CheckedState(child), HandleText(child)});
}

// The control `id` of the dialog in f[1], or null after an error reply.
HWND ControlFrom(const Fields& f) {
    if (f.size() < 3) {
        ReplyError("usage: command hwnd id ...");
        return nullptr;
    }
    HWND dialog = ParseHandle(f[1]);
    if (!::IsWindow(dialog)) {
        ReplyError("no window");
        return nullptr;
    }
    HWND control = ::GetDlgItem(dialog, std::atoi(f[2].c_str()));
    if (!control) ReplyError("no control");
    return control;
}

void CommandText(const Fields& f) {
    HWND control = ControlFrom(f);
    if (!control) return;
    char text[4096] = {};
    ::GetDlgItemTextA(::GetParent(control), ::GetDlgCtrlID(control), text, sizeof text);
    Reply({"ok", text});
}

void CommandCombo(const Fields& f) {
    HWND combo = ControlFrom(f);
    if (!combo) return;
    Fields reply{"ok", TextOf(combo)};
    LRESULT count = SendWithTimeout(combo, CB_GETCOUNT, 0, 0);
    // Wine hands list texts across processes as UTF-16 whatever the call's
    // character set: ask for them as such and convert.
    for (LRESULT i = 0; i < count; ++i) {
        wchar_t item[1024] = {};
        DWORD_PTR length = 0;
        ::SendMessageTimeoutW(combo, CB_GETLBTEXTLEN, WPARAM(i), 0, SMTO_ABORTIFHUNG,
                              kSendTimeoutMs, &length);
        DWORD_PTR ignored = 0;
        if (length < sizeof item / sizeof item[0])
            ::SendMessageTimeoutW(combo, CB_GETLBTEXT, WPARAM(i), reinterpret_cast<LPARAM>(item),
                                  SMTO_ABORTIFHUNG, kSendTimeoutMs, &ignored);
        char text[2048] = {};
        ::WideCharToMultiByte(CP_ACP, 0, item, -1, text, sizeof text, nullptr, nullptr);
        reply.push_back(text);
    }
    Reply(reply);
}

void CommandType(const Fields& f) {
    HWND control = ControlFrom(f);
    if (!control) return;
    if (f.size() < 4) return ReplyError("usage: type hwnd id text");
    // WM_SETTEXT sends no change notification; typed characters do.
    HWND edit = control;
    if (ClassOf(control) == "ComboBox") {
        edit = ::FindWindowExA(control, nullptr, "Edit", nullptr);
        if (!edit) return ReplyError("combo box without edit");
    }
    SendWithTimeout(edit, EM_SETSEL, 0, -1);
    if (f[3].empty()) SendWithTimeout(edit, WM_CHAR, VK_BACK, 0);
    for (unsigned char c : f[3]) SendWithTimeout(edit, WM_CHAR, c, 1);
    Reply({"ok"});
}

void CommandSetText(const Fields& f) {
    HWND control = ControlFrom(f);
    if (!control) return;
    if (f.size() < 4) return ReplyError("usage: settext hwnd id text");
    SendWithTimeout(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(f[3].c_str()));
    Reply({"ok"});
}

void CommandClick(const Fields& f) {
    HWND button = ControlFrom(f);
    if (!button) return;
    // BM_CLICK presses a disabled button too; a player could not.
    if (!::IsWindowEnabled(button)) return ReplyError("disabled");
    // Posted: the handler may open a modal box and not return for a while.
    ::PostMessageA(button, BM_CLICK, 0, 0);
    Reply({"ok"});
}

HWND WindowFrom(const Fields& f) {
    if (f.size() < 2) {
        ReplyError("usage: command hwnd");
        return nullptr;
    }
    HWND window = ParseHandle(f[1]);
    if (!::IsWindow(window)) {
        ReplyError("no window");
        return nullptr;
    }
    return window;
}

void CommandPost(const Fields& f, UINT message, WPARAM wParam) {
    HWND window = WindowFrom(f);
    if (!window) return;
    ::PostMessageA(window, message, wParam, 0);
    Reply({"ok"});
}

void CommandCaption(const Fields& f) {
    HWND window = WindowFrom(f);
    if (window) Reply({"ok", ClassOf(window), TextOf(window)});
}

void CommandOwner(const Fields& f) {
    HWND window = WindowFrom(f);
    if (!window) return;
    HWND owner = ::GetWindow(window, GW_OWNER);
    if (!owner) return Reply({"ok", "0", "", ""});
    Reply({"ok", HandleText(owner), ClassOf(owner), TextOf(owner)});
}

void CommandScreen() {
    Reply({"ok", std::to_string(::GetSystemMetrics(SM_CXSCREEN)),
           std::to_string(::GetSystemMetrics(SM_CYSCREEN))});
}

void CommandRect(const Fields& f) {
    HWND window = WindowFrom(f);
    if (!window) return;
    RECT r{};
    ::GetWindowRect(window, &r);
    Reply({"ok", std::to_string(r.left), std::to_string(r.top), std::to_string(r.right),
           std::to_string(r.bottom)});
}

void CommandState(const Fields& f) {
    if (f.size() < 2) return ReplyError("usage: state hwnd");
    HWND window = ParseHandle(f[1]);
    bool exists = ::IsWindow(window);
    Reply({"ok", exists ? "1" : "0", exists && ::IsWindowVisible(window) ? "1" : "0",
           exists && ::IsWindowEnabled(window) ? "1" : "0"});
}

void CommandGone(const Fields& f) {
    if (f.size() < 3) return ReplyError("usage: gone ms hwnd");
    DWORD timeout = std::strtoul(f[1].c_str(), nullptr, 10);
    HWND window = ParseHandle(f[2]);
    DWORD start = ::GetTickCount();
    while (::IsWindow(window)) {
        if (::GetTickCount() - start >= timeout) return ReplyError("timeout");
        ::Sleep(kPollMs);
    }
    Reply({"ok"});
}

// Wine keeps the X11 window of a top-level window in this property; a
// screenshot tool takes it with "import -window <id>".
void CommandXid(const Fields& f) {
    HWND window = WindowFrom(f);
    if (!window) return;
    HANDLE id = ::GetPropA(window, "__wine_x11_whole_window");
    Reply({"ok", std::to_string(reinterpret_cast<uintptr_t>(id))});
}

bool Dispatch(const Fields& f) {
    const std::string& c = f[0];
    if (c == "quit") {
        Reply({"ok"});
        return false;
    }
    if (c == "wait")
        CommandWait(f);
    else if (c == "find")
        CommandFind(f);
    else if (c == "windows")
        CommandWindows();
    else if (c == "controls")
        CommandControls(f);
    else if (c == "caption")
        CommandCaption(f);
    else if (c == "owner")
        CommandOwner(f);
    else if (c == "screen")
        CommandScreen();
    else if (c == "text")
        CommandText(f);
    else if (c == "combo")
        CommandCombo(f);
    else if (c == "type")
        CommandType(f);
    else if (c == "settext")
        CommandSetText(f);
    else if (c == "click")
        CommandClick(f);
    else if (c == "escape")
        CommandPost(f, WM_KEYDOWN, VK_ESCAPE);
    else if (c == "close")
        CommandPost(f, WM_SYSCOMMAND, SC_CLOSE);
    else if (c == "wmclose")
        CommandPost(f, WM_CLOSE, 0);
    else if (c == "rect")
        CommandRect(f);
    else if (c == "state")
        CommandState(f);
    else if (c == "gone")
        CommandGone(f);
    else if (c == "xid")
        CommandXid(f);
    else
        ReplyError("unknown command " + c);
    return true;
}

}  // namespace

int main() {
    std::setvbuf(stdin, nullptr, _IONBF, 0);
    char line[8192];
    while (std::fgets(line, sizeof line, stdin)) {
        std::string request(line);
        while (!request.empty() && (request.back() == '\n' || request.back() == '\r'))
            request.pop_back();
        if (request.empty()) continue;
        if (!Dispatch(SplitRequest(request))) break;
    }
    return 0;
}

// The server selection dialog on a thread of its own, driven from the test
// thread with the messages a player's actions produce, in a scratch install
// directory with its own Language.Txt and ServerList.Txt.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "dialog_test_support.h"
#include "run/download_state.h"
#include "run/patch_server_list.h"
#include "run/server_choice.h"
#include "resources/dialog_127_ids.h"
#include "ui/dialogs/server_dialog.h"
#include "ui/language_file.h"
#include "ui/startup_texts.h"

namespace {

struct Server {
    std::string name, address, description, linkCaption, linkTarget;
};

const std::vector<Server> kThree = {
    {"Greymoor", "127.0.0.1:11677", "Greymoor: quiet marshes.", "Greymoor forum", "http://g/"},
    {"Saltfen", "127.0.0.2", "Saltfen: newest events.", "Saltfen news", "http://s/"},
    {"Reedwater", "127.0.0.3", "Reedwater: role-playing.", "Reedwater rules", "http://r/"},
};

std::string TempDirectory() {
    char base[MAX_PATH];
    ::GetTempPathA(sizeof base, base);
    std::string dir = std::string(base) + "mrl-dialog-" + std::to_string(::GetCurrentProcessId());
    ::CreateDirectoryA(dir.c_str(), nullptr);
    return dir;
}

// A scratch install directory with the text table (texts 78..82 set) and,
// unless `servers` is null, a server list. The current directory moves there.
void MakeInstall(const std::vector<Server>* servers, const std::string& text82 = "Pick one.",
                 const std::string& text80 = "http://default/") {
    std::string dir = TempDirectory();
    ::SetCurrentDirectoryA(dir.c_str());
    ::DeleteFileA("ServerList.Txt");
    std::ofstream language("Language.Txt", std::ios::binary);
    for (int i = 1; i <= 77; ++i) language << "Text " << i << "\r\n";
    language << "Game Server\r\nLink caption 79\r\n"
             << text80 << "\r\nHint 81\r\n"
             << text82 << "\r\n";
    language.close();
    if (servers) {
        std::ofstream list("ServerList.Txt");
        for (const Server& s : *servers)
            list << s.name << "\n"
                 << s.address << "\n-\n"
                 << s.description << "\n"
                 << s.linkCaption << "\n"
                 << s.linkTarget << "\n";
    }
}

// The start-up's part: texts 78..82 into their buffers; the run globals.
void StartRun(const char* address, int proxy = 0, int locked = 0) {
    CloseLanguageFile();
    OpenLanguageFile();
    for (int i = 0; i < kStartupTextCount; ++i)
        std::snprintf(startupTexts[i], kStartupTextSize, "%s",
                      GetLanguageText(kFirstStartupText + i));
    std::snprintf(run::gameServerAddress, run::kAddressSize, "%s", address);
    run::proxyAddress[0] = '\0';
    run::proxyEnabled = proxy;
    run::serverChoiceLocked = locked;
    run::dialogWindow.store(nullptr);
}

// Shows the dialog on its own thread, as the driver does on the main thread.
class ShownDialog {
public:
    ShownDialog() {
        thread = std::thread([this] {
            result.store(::DialogBoxParamA(::GetModuleHandleA(nullptr),
                                           MAKEINTRESOURCEA(IDD_SERVER_DIALOG), nullptr,
                                           ServerDialogProc, 0));
            ended.store(true);
        });
        WaitUntil([] {
            auto shown = static_cast<HWND>(run::dialogWindow.load());
            return shown && ::IsWindowVisible(shown);
        });
        box = static_cast<HWND>(run::dialogWindow.load());
        Settle();
    }
    ~ShownDialog() {
        if (!ended.load() && box) ::EndDialog(box, -5);  // works across threads under Wine
        thread.join();
    }

    // Lets the posted combo box commands run: a message sent after them is
    // answered only once the box has taken everything posted before it.
    void Settle() {
        for (int i = 0; i < 3; ++i) {
            ::Sleep(20);
            ::SendMessageA(box, WM_NULL, 0, 0);
        }
    }
    HWND Item(int id) const { return ::GetDlgItem(box, id); }
    std::string Text(int id) const {
        char text[600] = {};
        ::GetDlgItemTextA(box, id, text, sizeof text);
        return text;
    }
    bool Enabled(int id) const { return ::IsWindowEnabled(Item(id)) != FALSE; }
    std::vector<std::string> ListEntries() const {
        std::vector<std::string> entries;
        int count = static_cast<int>(::SendMessageA(Item(IDC_SERVER_COMBO), CB_GETCOUNT, 0, 0));
        for (int i = 0; i < count; ++i) {
            char text[600] = {};
            ::SendMessageA(Item(IDC_SERVER_COMBO), CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
            entries.push_back(text);
        }
        return entries;
    }
    // What typing does: replace the edit part's text one character at a time.
    void Type(const std::string& text) {
        HWND edit = ::FindWindowExA(Item(IDC_SERVER_COMBO), nullptr, "Edit", nullptr);
        ::SendMessageA(edit, EM_SETSEL, 0, -1);
        if (text.empty()) ::SendMessageA(edit, WM_CHAR, VK_BACK, 0);
        for (char c : text) ::SendMessageA(edit, WM_CHAR, static_cast<unsigned char>(c), 0);
        Settle();
    }
    // What picking an entry of the list does.
    void Choose(const std::string& name) {
        HWND combo = Item(IDC_SERVER_COMBO);
        int index = static_cast<int>(
            ::SendMessageA(combo, CB_FINDSTRINGEXACT, -1, reinterpret_cast<LPARAM>(name.c_str())));
        ::SendMessageA(combo, CB_SETCURSEL, index, 0);
        ::SendMessageA(box, WM_COMMAND, MAKEWPARAM(IDC_SERVER_COMBO, CBN_SELCHANGE),
                       reinterpret_cast<LPARAM>(combo));
        Settle();
    }
    void Click(int id) {
        ::SendMessageA(Item(id), BM_CLICK, 0, 0);
        Settle();
    }
    INT_PTR WaitForEnd() {
        WaitUntil([this] { return ended.load(); });
        return ended.load() ? result.load() : -100;
    }

    HWND box = nullptr;

private:
    std::atomic<INT_PTR> result{-2};
    std::atomic<bool> ended{false};
    std::thread thread;
};

TEST(ServerDialogTest, EveryListedServerOnceAndTheFirstPreselectedWhenNoneWasSet) {
    MakeInstall(&kThree);
    StartRun("");
    ShownDialog dialog;
    ASSERT_NE(dialog.box, nullptr);
    std::vector<std::string> entries = dialog.ListEntries();
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(std::set<std::string>(entries.begin(), entries.end()),
              (std::set<std::string>{"Greymoor", "Saltfen", "Reedwater"}));
    EXPECT_EQ(dialog.Text(IDC_SERVER_COMBO), entries[0]);
    EXPECT_EQ(std::string(run::gameServerAddress), entries[0]);

    // The posted command made the description and the link follow it.
    const Server* first = nullptr;
    for (const Server& s : kThree)
        if (s.name == entries[0]) first = &s;
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(dialog.Text(IDC_SERVER_DESCRIPTION), first->description);
    EXPECT_EQ(dialog.Text(IDC_SERVER_LINK), first->linkCaption);
    EXPECT_EQ(std::string(linkTargetText), first->linkTarget);
    EXPECT_EQ(std::string(shownDescription), first->description);
    EXPECT_EQ(dialog.Text(IDC_SERVER_LABEL), "Game Server");
    EXPECT_EQ(dialog.Text(IDC_SERVER_HINT), "Hint 81");
    EXPECT_TRUE(dialog.Enabled(IDC_SERVER_CONNECT));
    EXPECT_TRUE(dialog.Enabled(IDC_SERVER_COMBO));
    EXPECT_FALSE(dialog.Enabled(IDC_SERVER_PROXY_EDIT));
}

TEST(ServerDialogTest, ChoiceFollowsAListedServerAndStaysOnAnUnknownText) {
    MakeInstall(&kThree);
    StartRun("10.9.8.7:4000");
    ShownDialog dialog;
    // An address from the registry stays the choice even when not listed.
    EXPECT_EQ(dialog.Text(IDC_SERVER_COMBO), "10.9.8.7:4000");
    EXPECT_EQ(dialog.Text(IDC_SERVER_LINK), "Link caption 79");
    EXPECT_EQ(std::string(linkTargetText), "http://default/");

    dialog.Choose("Saltfen");
    EXPECT_EQ(dialog.Text(IDC_SERVER_COMBO), "Saltfen");
    EXPECT_EQ(dialog.Text(IDC_SERVER_DESCRIPTION), "Saltfen: newest events.");
    EXPECT_EQ(dialog.Text(IDC_SERVER_LINK), "Saltfen news");
    EXPECT_EQ(std::string(linkTargetText), "http://s/");

    dialog.Type("my.own.host");
    EXPECT_EQ(dialog.Text(IDC_SERVER_DESCRIPTION), "Saltfen: newest events.");
    EXPECT_EQ(dialog.Text(IDC_SERVER_LINK), "Saltfen news");
    EXPECT_EQ(std::string(linkTargetText), "http://s/");
    EXPECT_TRUE(dialog.Enabled(IDC_SERVER_CONNECT));

    dialog.Click(IDC_SERVER_CONNECT);
    EXPECT_EQ(dialog.WaitForEnd(), 0);
    EXPECT_STREQ(run::gameServerAddress, "my.own.host");
    EXPECT_STREQ(run::proxyAddress, "");
}

TEST(ServerDialogTest, ConnectIsDisabledOnAnEmptyTextAndEnabledByTyping) {
    MakeInstall(&kThree);
    StartRun("");
    ShownDialog dialog;
    EXPECT_TRUE(dialog.Enabled(IDC_SERVER_CONNECT));
    dialog.Type("");
    EXPECT_EQ(dialog.Text(IDC_SERVER_COMBO), "");
    EXPECT_FALSE(dialog.Enabled(IDC_SERVER_CONNECT));
    // Enter on the disabled default button must not store an empty choice.
    ::SendMessageA(dialog.box, WM_COMMAND, IDOK, 0);
    dialog.Settle();
    dialog.Type("x");
    EXPECT_TRUE(dialog.Enabled(IDC_SERVER_CONNECT));
    dialog.Click(IDC_SERVER_CONNECT);
    EXPECT_EQ(dialog.WaitForEnd(), 0);
    EXPECT_STREQ(run::gameServerAddress, "x");
}

TEST(ServerDialogTest, WithoutAServerListConnectWaitsForAnAddress) {
    MakeInstall(nullptr);
    StartRun("");
    ShownDialog dialog;
    EXPECT_TRUE(dialog.ListEntries().empty());
    EXPECT_FALSE(dialog.Enabled(IDC_SERVER_CONNECT));
    EXPECT_EQ(dialog.Text(IDC_SERVER_DESCRIPTION), "Pick one.");
    dialog.Type("1.2.3.4");
    EXPECT_TRUE(dialog.Enabled(IDC_SERVER_CONNECT));
}

TEST(ServerDialogTest, ProxyCheckBoxMirrorsTheFlagAndEnablesTheField) {
    MakeInstall(&kThree);
    StartRun("Greymoor");
    ShownDialog dialog;
    EXPECT_EQ(::IsDlgButtonChecked(dialog.box, IDC_SERVER_PROXY_CHECK), BST_UNCHECKED);
    dialog.Click(IDC_SERVER_PROXY_CHECK);
    EXPECT_EQ(run::proxyEnabled, 1);
    EXPECT_TRUE(dialog.Enabled(IDC_SERVER_PROXY_EDIT));
    dialog.Click(IDC_SERVER_PROXY_CHECK);
    EXPECT_EQ(run::proxyEnabled, 0);
    EXPECT_FALSE(dialog.Enabled(IDC_SERVER_PROXY_EDIT));
    dialog.Click(IDC_SERVER_PROXY_CHECK);
    ::SetDlgItemTextA(dialog.box, IDC_SERVER_PROXY_EDIT, "proxy.lan:8080");
    dialog.Click(IDC_SERVER_CONNECT);
    EXPECT_EQ(dialog.WaitForEnd(), 0);
    EXPECT_STREQ(run::gameServerAddress, "Greymoor");
    EXPECT_STREQ(run::proxyAddress, "proxy.lan:8080");
    EXPECT_EQ(run::proxyEnabled, 1);
}

TEST(ServerDialogTest, ProxyFromTheRegistryIsCheckedWithAnEmptyField) {
    MakeInstall(&kThree);
    StartRun("Greymoor", /*proxy=*/1);
    std::snprintf(run::proxyAddress, run::kAddressSize, "left.from.before");
    ShownDialog dialog;
    EXPECT_EQ(::IsDlgButtonChecked(dialog.box, IDC_SERVER_PROXY_CHECK), BST_CHECKED);
    EXPECT_EQ(run::proxyEnabled, 1);
    EXPECT_TRUE(dialog.Enabled(IDC_SERVER_PROXY_EDIT));
    EXPECT_EQ(dialog.Text(IDC_SERVER_PROXY_EDIT), "");
    dialog.Click(IDC_SERVER_CONNECT);
    EXPECT_EQ(dialog.WaitForEnd(), 0);
    EXPECT_STREQ(run::proxyAddress, "");
}

TEST(ServerDialogTest, ProxyValueLocksTheServerChoice) {
    MakeInstall(&kThree);
    StartRun("", 0, /*locked=*/1);
    ShownDialog dialog;
    EXPECT_FALSE(dialog.Enabled(IDC_SERVER_COMBO));
    EXPECT_NE(dialog.Text(IDC_SERVER_COMBO), "");  // the first drawn server
    EXPECT_TRUE(dialog.Enabled(IDC_SERVER_CONNECT));
    EXPECT_TRUE(dialog.Enabled(IDC_SERVER_PROXY_CHECK));
}

TEST(ServerDialogTest, LongTextsAreCutToTheirBuffers) {
    std::vector<Server> servers = kThree;
    servers[0].linkTarget = "http://" + std::string(200, 'l') + "/";
    MakeInstall(&servers, std::string(700, 'd'), "http://" + std::string(150, 't'));
    StartRun("Greymoor");
    ShownDialog dialog;
    EXPECT_EQ(std::string(linkTargetText).size(), 99u);
    EXPECT_EQ(std::string(linkTargetText), servers[0].linkTarget.substr(0, 99));
    EXPECT_EQ(std::string(shownDescription), kThree[0].description);
    dialog.Type("unknown");
    // Text 82 is looked up anew: cut to 499 characters on its way.
    EXPECT_EQ(std::string(startupTexts[kServerDescriptionText]), std::string(499, 'd'));
    EXPECT_EQ(std::string(shownDescription), std::string(499, 'd'));
}

BOOL CALLBACK FindBitmapStatic(HWND child, LPARAM found) {
    if ((::GetWindowLongPtrA(child, GWL_STYLE) & SS_TYPEMASK) == SS_BITMAP) {
        *reinterpret_cast<HWND*>(found) = child;
        return FALSE;
    }
    return TRUE;
}

int LabelTextWidth(HWND label) {
    char text[100] = {};
    ::GetWindowTextA(label, text, sizeof text);
    HDC dc = ::GetDC(label);
    HGDIOBJ old =
        ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageA(label, WM_GETFONT, 0, 0)));
    SIZE size{};
    ::GetTextExtentPoint32A(dc, text, static_cast<int>(std::strlen(text)), &size);
    ::SelectObject(dc, old);
    ::ReleaseDC(label, dc);
    return size.cx;
}

TEST(ServerDialogTest, PictureAndLabelsStayInTheirPlacesWhateverTheFont) {
    MakeInstall(&kThree);
    StartRun("");
    ShownDialog dialog;
    HWND picture = nullptr;
    ::EnumChildWindows(dialog.box, FindBitmapStatic, reinterpret_cast<LPARAM>(&picture));
    ASSERT_NE(picture, nullptr);
    RECT pictureRect{}, labelRect{};
    ::GetWindowRect(picture, &pictureRect);
    ::GetWindowRect(dialog.Item(IDC_SERVER_LABEL), &labelRect);
    EXPECT_LE(pictureRect.right, labelRect.left);
    for (int id : {IDC_SERVER_LABEL, IDC_SERVER_PATCH_LABEL}) {
        RECT client{};
        ::GetClientRect(dialog.Item(id), &client);
        EXPECT_LE(LabelTextWidth(dialog.Item(id)), client.right) << "label " << id;
    }
}

TEST(ServerDialogDeathTest, CancelAndEscapeEndTheProgramWith234) {
    for (bool escape : {false, true}) {
        EXPECT_EXIT(
            {
                MakeInstall(&kThree);
                StartRun("");
                ShownDialog dialog;
                if (escape)
                    ::PostMessageA(dialog.box, WM_KEYDOWN, VK_ESCAPE, 0);
                else
                    ::PostMessageA(dialog.Item(IDC_SERVER_CANCEL), BM_CLICK, 0, 0);
                ::Sleep(5000);
                ::ExitProcess(99);
            },
            ::testing::ExitedWithCode(234), "");
    }
}

}  // namespace

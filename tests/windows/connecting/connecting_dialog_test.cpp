// The connecting dialog under Wine: the dialog runs on a thread of its own,
// the test reads and pokes it from outside as a player would. Scenes that end
// the process (postpone, fatal network errors) run in a child process.
#include <gtest/gtest.h>
#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <thread>

#include "child_process.h"
#include "run/download_state.h"
#include "run/patch_server_list.h"
#include "run/server_choice.h"
#include "patchlink/patch_receiver.h"
#include "patchlink/stream_connection.h"
#include "platform/system.h"
#include "resources/dialog_108_ids.h"
#include "ui/dialogs/connecting_dialog.h"
#include "ui/language_file.h"

namespace {

const char kNetworkErrorText[] = "The connection to the patch server failed.";
const char kPostponeText[] = "Later";

// A text table whose texts 85, 183 and 184 are known: text N is line N.
void WriteTextTable() {
    std::ofstream out("Language.Txt", std::ios::binary);
    out << "* texts for the connecting dialog tests\r\n";
    for (int n = 1; n <= 190; ++n) {
        if (n == 85)
            out << kNetworkErrorText;
        else if (n == 183)
            out << kPostponeText;
        else if (n == 184)
            out << "%s: %.0f %c of %.6f %c";
        else
            out << "Text " << n;
        out << "\r\n";
    }
}

void SetFileName(const char* name) {
    char* text = nullptr;
    if (name) {
        text = new char[std::strlen(name) + 1];
        std::strcpy(text, name);
    }
    delete[] run::patchFileName.exchange(text);
}

class ConnectingDialog : public ::testing::Test {
protected:
    void SetUp() override {
        WriteTextTable();
        ASSERT_TRUE(OpenLanguageFile());
        run::doneFlag = 0;
        run::downloadComplete = 0;
        run::dialogWindow = nullptr;
        run::patchFileSize = 0;
        run::patchBytesReceived = 0;
        SetFileName(nullptr);
    }
    void TearDown() override {
        if (thread_.joinable()) {
            if (!closed_) Close();
            thread_.join();
        }
        CloseLanguageFile();
    }

    // Opens the dialog on a thread of its own, as the driver's modal call
    // would, and waits until it is shown.
    HWND Open() {
        thread_ = std::thread([this] {
            result_ = DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_CONNECTING),
                                      nullptr, ConnectingDialogProc, 0);
            closed_ = true;
        });
        DWORD start = GetTickCount();
        while (!run::dialogWindow.load() && GetTickCount() - start < 5000) Sleep(10);
        // The window is published while it is still being initialised; a
        // repaint before it is shown would do nothing.
        HWND dialog = static_cast<HWND>(run::dialogWindow.load());
        while (dialog && !IsWindowVisible(dialog) && GetTickCount() - start < 5000) Sleep(10);
        return dialog;
    }
    // What the receiver does when it is done: doneFlag, then a repaint.
    void Close() {
        run::doneFlag = 1;
        platform::RepaintWindow(run::dialogWindow.load());
    }
    bool WaitClosed(DWORD timeoutMs = 5000) {
        DWORD start = GetTickCount();
        while (!closed_ && GetTickCount() - start < timeoutMs) Sleep(10);
        return closed_;
    }
    std::string Status(HWND dialog) {
        platform::RepaintWindow(dialog);
        return ItemText(dialog, IDC_CONNECTING_STATUS);
    }

    std::thread thread_;
    std::atomic<bool> closed_{false};
    std::atomic<INT_PTR> result_{-1};
};

TEST_F(ConnectingDialog, ShowsConnectingUntilTheHeaderIsIn) {
    HWND dialog = Open();
    ASSERT_NE(dialog, nullptr);
    char caption[64] = {};
    GetWindowTextA(dialog, caption, sizeof caption);
    EXPECT_STREQ(caption, "Mirelands Auto Patch");
    EXPECT_EQ(ItemText(dialog, IDC_CONNECTING_POSTPONE), kPostponeText);
    EXPECT_EQ(ItemText(dialog, IDC_CONNECTING_STATUS), "Connecting to Server....");
    // A repaint without a file name leaves it, whatever the counts say.
    run::patchFileSize = 5000;
    EXPECT_EQ(Status(dialog), "Connecting to Server....");
    SetFileName("p7to8.rtp");
    run::patchBytesReceived = 2500;
    EXPECT_EQ(Status(dialog), "p7to8.rtp: 2 k of 5.000000 k");
}

struct Scaling {
    uint32_t bytes;
    const char* line;
};
void PrintTo(const Scaling& s, std::ostream* out) { *out << s.bytes << " bytes"; }

class ConnectingDialogScaling : public ConnectingDialog,
                                public ::testing::WithParamInterface<Scaling> {};

TEST_P(ConnectingDialogScaling, ProgressLineScalesBothCounts) {
    HWND dialog = Open();
    ASSERT_NE(dialog, nullptr);
    SetFileName("p.rtp");
    run::patchFileSize = GetParam().bytes;
    run::patchBytesReceived = GetParam().bytes;
    EXPECT_EQ(Status(dialog), GetParam().line);
}
INSTANTIATE_TEST_SUITE_P(Edges, ConnectingDialogScaling,
                         ::testing::Values(Scaling{1000, "p.rtp: 1000 b of 1000.000000 b"},
                                           Scaling{1001, "p.rtp: 1 k of 1.000000 k"},
                                           Scaling{1000000, "p.rtp: 1000 k of 1000.000000 k"},
                                           Scaling{1000001, "p.rtp: 1 M of 1.000001 M"}));

TEST_F(ConnectingDialog, EscapeAndTheCloseBoxLeaveItOpen) {
    HWND dialog = Open();
    ASSERT_NE(dialog, nullptr);
    PostMessageA(dialog, WM_KEYDOWN, VK_ESCAPE, 0);
    PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    PostMessageA(dialog, WM_CLOSE, 0, 0);
    PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    EXPECT_FALSE(WaitClosed(400));
    EXPECT_TRUE(IsWindowVisible(dialog));
}

TEST_F(ConnectingDialog, RepaintAfterDoneClosesItEvenWhenIncomplete) {
    HWND dialog = Open();
    ASSERT_NE(dialog, nullptr);
    platform::RepaintWindow(dialog);
    EXPECT_FALSE(WaitClosed(100));
    Close();
    EXPECT_TRUE(WaitClosed());
    EXPECT_EQ(result_, 0);
    EXPECT_EQ(run::downloadComplete, 0);
}

// --- the receiver and the dialog together, over Winsock ---------------------

// A listening socket on loopback; Serve runs `script` on the accepted peer.
class WinsockPeer {
public:
    WinsockPeer() {
        WSADATA data;
        WSAStartup(0x0101, &data);
        listener_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(listener_, 1);
        int length = sizeof address;
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
    }
    ~WinsockPeer() {
        if (thread_.joinable()) thread_.join();
        closesocket(listener_);
        WSACleanup();
    }
    void Serve(std::function<void(SOCKET)> script) {
        thread_ = std::thread([this, script] {
            SOCKET peer = accept(listener_, nullptr, nullptr);
            script(peer);
            // Wait for the client to close before going away: a close
            // before the receiver stopped would be a fatal network error.
            char rest[64];
            while (recv(peer, rest, sizeof rest, 0) > 0) {
            }
            closesocket(peer);
        });
    }
    uint16_t Port() const { return port_; }

private:
    SOCKET listener_;
    uint16_t port_ = 0;
    std::thread thread_;
};

void SendAll(SOCKET s, const std::string& bytes) { send(s, bytes.data(), int(bytes.size()), 0); }
std::string U32(uint32_t v) { return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)}; }

class DownloadStep : public ConnectingDialog {
protected:
    // What the driver does for one step: connect, start the receiver, wait
    // for the greeting, send the version, show the dialog until it closes.
    void RunStep(uint16_t port) {
        run::receiveState = 1;
        run::downloadReady = 0;
        run::downloadFailed = 0;
        run::receiverRunning = 0;
        patchConnection.SetHost("127.0.0.1");
        patchConnection.SetPort(port);
        patchConnection.SetSocketType(1);
        patchConnection.SetWaitModes(true, true);
        ASSERT_EQ(patchConnection.Connect(), 1);
        std::thread receiver(PatchReceiverThread, nullptr);
        while (!run::downloadReady) Sleep(10);
        SendToPatchServer(U32(7).data(), 4);
        ASSERT_NE(Open(), nullptr);
        EXPECT_TRUE(WaitClosed(10000));
        receiver.join();
        patchConnection.Close();
    }
};

TEST_F(DownloadStep, DialogFollowsTheDownloadAndClosesWhenComplete) {
    DeleteFileA("step.rtp");
    std::string content(60000, '\0');
    for (size_t i = 0; i < content.size(); ++i) content[i] = char(i * 7 + i / 300);
    WinsockPeer peer;
    peer.Serve([&](SOCKET s) {
        SendAll(s, std::string(1, '\x01'));
        char buffer[4];
        recv(s, buffer, 4, MSG_WAITALL);
        SendAll(s, U32(8) + U32(uint32_t(content.size())) + std::string{0, 8} + "step.rtp");
        recv(s, buffer, 4, MSG_WAITALL);
        for (size_t at = 0; at < content.size(); at += 6000) {
            SendAll(s, content.substr(at, 6000));
            Sleep(30);
        }
    });
    RunStep(peer.Port());
    EXPECT_EQ(run::downloadComplete, 1);
    EXPECT_EQ(result_, 0);
    std::ifstream in("step.rtp", std::ios::binary);
    std::string written((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_TRUE(written == content);
    in.close();
    DeleteFileA("step.rtp");
}

TEST_F(DownloadStep, RefusalAfterTheRequestClosesTheDialog) {
    WinsockPeer peer;
    peer.Serve([](SOCKET s) {
        SendAll(s, std::string(1, '\x01'));
        char buffer[4];
        recv(s, buffer, 4, MSG_WAITALL);
        Sleep(300);  // the dialog is up by now
        SendAll(s, U32(0) + std::string{1, 0, 0});
    });
    RunStep(peer.Port());
    EXPECT_EQ(run::downloadFailed, 1);
    EXPECT_EQ(run::downloadComplete, 0);
}

// --- scenes that end the process, played by a child -----------------------

TEST_F(ConnectingDialog, PostponeEndsTheProgramWith234) {
    long code = RunChild("postpone", "ConnectingChild.Postpone", [](DWORD) {});
    EXPECT_EQ(code, 234);
}

// The box a fatal network error shows: text 85, "Error Message"; its OK ends
// the program with 233.
void ExpectNetworkErrorBox(DWORD pid) {
    HWND box = WaitForDialog(pid, "Error Message", 10000);
    ASSERT_NE(box, nullptr) << "no error box";
    EXPECT_EQ(ItemText(box, 0xFFFF), kNetworkErrorText);
    PostMessageA(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
}

TEST_F(ConnectingDialog, UnresolvableHostShowsText85AndExits233) {
    long code = RunChild("unresolvable", "ConnectingChild.UnresolvableHost", ExpectNetworkErrorBox);
    EXPECT_EQ(code, 233);
}

TEST_F(ConnectingDialog, PeerClosingMidTransferShowsText85AndExits233) {
    long code =
        RunChild("peer-closes", "ConnectingChild.PeerClosesMidTransfer", ExpectNetworkErrorBox);
    EXPECT_EQ(code, 233);
    DeleteFileA("cut.rtp");
}

class ConnectingChild : public ConnectingDialog {
protected:
    void SetUp() override {
        if (ChildScene().empty()) GTEST_SKIP() << "played by a child process only";
        ConnectingDialog::SetUp();
    }
};

TEST_F(ConnectingChild, Postpone) {
    ASSERT_EQ(ChildScene(), "postpone");
    HWND dialog = Open();
    ASSERT_NE(dialog, nullptr);
    PostMessageA(GetDlgItem(dialog, IDC_CONNECTING_POSTPONE), BM_CLICK, 0, 0);
    Sleep(10000);
    FAIL() << "still running after Postpone";
}

TEST_F(ConnectingChild, UnresolvableHost) {
    ASSERT_EQ(ChildScene(), "unresolvable");
    patchConnection.SetHost("no-such-host.invalid");
    patchConnection.SetPort(11679);
    patchConnection.SetSocketType(1);
    patchConnection.SetWaitModes(true, true);
    patchConnection.Connect();
    FAIL() << "Connect returned";
}

// A patch server that sends a header and part of the file, then goes away.
void ServeThenClose(SOCKET listener) {
    SOCKET peer = accept(listener, nullptr, nullptr);
    char buffer[4];
    const char greeting = 1;
    send(peer, &greeting, 1, 0);
    recv(peer, buffer, 4, MSG_WAITALL);
    const char header[] = {0, 0,   0,   8,   0,   0,   0x13, (char)0x88, 0,
                           7, 'c', 'u', 't', '.', 'r', 't',  'p'};
    send(peer, header, sizeof header, 0);
    recv(peer, buffer, 4, MSG_WAITALL);
    std::string part(1200, 'z');
    send(peer, part.data(), int(part.size()), 0);
    Sleep(100);
    closesocket(peer);
}

TEST_F(ConnectingChild, PeerClosesMidTransfer) {
    ASSERT_EQ(ChildScene(), "peer-closes");
    DeleteFileA("cut.rtp");
    WSADATA data;
    WSAStartup(0x0101, &data);
    SOCKET listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(listener, 1);
    int length = sizeof address;
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    std::thread server(ServeThenClose, listener);
    server.detach();

    run::receiveState = 1;
    run::downloadReady = 0;
    patchConnection.SetHost("127.0.0.1");
    patchConnection.SetPort(ntohs(address.sin_port));
    patchConnection.SetSocketType(1);
    patchConnection.SetWaitModes(true, true);
    ASSERT_EQ(patchConnection.Connect(), 1);
    std::thread receiver(PatchReceiverThread, nullptr);
    while (!run::downloadReady) Sleep(10);
    const char request[4] = {0, 0, 0, 7};
    SendToPatchServer(request, 4);
    receiver.join();
    FAIL() << "the receiver ended without a fatal error";
}

// Not a test: holds the dialog with a progress line up for a screenshot
// (MRL_CHILD=hold, see the README).
TEST_F(ConnectingChild, HoldForScreenshot) {
    if (ChildScene() != "hold") GTEST_SKIP();
    HWND dialog = Open();
    ASSERT_NE(dialog, nullptr);
    SetFileName("p7to8.rtp");
    run::patchFileSize = 7340032;
    run::patchBytesReceived = 2621440;
    platform::RepaintWindow(dialog);
    Sleep(6000);
}

}  // namespace

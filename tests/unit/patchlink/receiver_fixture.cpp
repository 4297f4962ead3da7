#include "receiver_fixture.h"

#include <dirent.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <sstream>

#include "run/download_state.h"
#include "run/patch_server_list.h"
#include "run/server_choice.h"
#include "patchlink/patch_receiver.h"
#include "patchlink/stream_connection.h"
#include "patchlink/wire_order.h"
#include "platform/debug.h"
#include "platform/system.h"
#include "platform/time.h"

void* const ReceiverTest::kDialog = reinterpret_cast<void*>(0x1080);

Bytes Content(size_t size, uint8_t seed) {
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = uint8_t(seed + i * 7 + i / 251);
    return bytes;
}

void AwaitPoke(PeerSocket& peer, std::atomic<bool>& poke) {
    WaitUntil([&] { return poke.load(); });
    peer.Send({0x00});
    peer.WaitClosed();
}

void ReceiverTest::SetUp() {
    char here[4096];
    oldDir_ = getcwd(here, sizeof here) ? here : "/";
    char pattern[] = "/tmp/mrl_receiver_XXXXXX";
    dir_ = mkdtemp(pattern);
    ASSERT_EQ(chdir(dir_.c_str()), 0);

    run::doneFlag = 0;
    run::downloadReady = 0;
    run::downloadFailed = 0;
    run::downloadComplete = 0;
    run::receiveState = 1;
    run::receiverRunning = 0;
    run::workingVersion = kInstalledVersion;
    run::patchTargetVersion = kInstalledVersion;
    delete[] run::patchFileName.exchange(nullptr);
    run::patchFileSize = 0;
    run::patchBytesReceived = 0;
    run::lastSendTick = 0;
    run::dialogWindow = kDialog;
    TakeServerList();
    platform::TakeDebugOutput();
    platform::TakeUiTouches();
    platform::SetFreeBytesForTests(int64_t(1) << 40);
}

void ReceiverTest::TearDown() {
    if (receiver_.joinable()) {
        if (Finished()) {
            receiver_.join();
        } else {
            // A receiver stuck in a read cannot be ended safely; the test has
            // already failed, leave it to the process end.
            ADD_FAILURE() << "receiver still running";
            receiver_.detach();
        }
    }
    patchConnection.Close();
    poke_ = true;
    peer_.reset();
    platform::SetFreeBytesForTests(-1);
    platform::SetTickSource(nullptr);
    TakeServerList();
    if (chdir(oldDir_.c_str()) == 0) {
        std::string remove = "rm -rf '" + dir_ + "'";
        if (std::system(remove.c_str()) != 0) ADD_FAILURE() << "cannot remove " << dir_;
    }
}

void ReceiverTest::Start(std::function<void(PeerSocket&)> script) {
    peer_ = std::make_unique<ScriptedPeer>(std::move(script));
    patchConnection.SetHost("127.0.0.1");
    patchConnection.SetPort(peer_->Port());
    patchConnection.SetSocketType(1);
    patchConnection.SetWaitModes(true, true);
    ASSERT_EQ(patchConnection.Connect(), 1);
    receiver_ = std::thread([this] {
        PatchReceiverThread(nullptr);
        finished_ = true;
    });
}

void ReceiverTest::SendVersionRequest() {
    ASSERT_TRUE(WaitUntil([] { return run::downloadReady.load() != 0; })) << "no greeting";
    uint8_t request[4];
    patchwire::WriteU32(request, kInstalledVersion);
    SendToPatchServer(request, 4);
}

bool ReceiverTest::Finished() {
    bool ended = WaitUntil([this] { return finished_.load(); });
    if (!ended) return false;
    if (receiver_.joinable()) receiver_.join();
    // The exchange is over: let the peer go, so that nothing it refers to
    // in the test body is used after the body ends.
    patchConnection.Close();
    poke_ = true;
    peer_.reset();
    return true;
}

void ReceiverTest::StopReceiver() {
    run::doneFlag = 1;
    poke_ = true;
}

std::string ReceiverTest::FileContent(const std::string& name) const {
    std::ifstream in(name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void ReceiverTest::WriteFile(const std::string& name, const Bytes& content) const {
    std::ofstream out(name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(content.data()), std::streamsize(content.size()));
}

std::vector<std::string> ReceiverTest::FilesHere() const {
    std::vector<std::string> names;
    DIR* dir = opendir(".");
    while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    closedir(dir);
    return names;
}

bool ReceiverTest::Traced(const std::string& line) {
    for (std::string& t : platform::TakeDebugOutput()) traces_.push_back(std::move(t));
    for (const std::string& t : traces_)
        if (t == line) return true;
    return false;
}

int ReceiverTest::CountTouches(int kind) {
    int count = 0;
    for (const platform::UiTouch& touch : platform::TakeUiTouches())
        if (touch.kind == kind && touch.window == kDialog) ++count;
    return count;
}

std::vector<std::pair<uint16_t, std::string>> ReceiverTest::TakeServerList() {
    std::vector<std::pair<uint16_t, std::string>> entries;
    platform::CriticalSectionGuard hold(run::ServerListLock);
    while (auto entry = run::patchServerList.Take()) entries.emplace_back(entry->port, entry->host);
    return entries;
}

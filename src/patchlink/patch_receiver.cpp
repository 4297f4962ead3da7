#include "patchlink/patch_receiver.h"

#include <cstdio>
#include <cstring>
#include "platform/sync.h"

#include "run/download_state.h"
#include "run/patch_server_list.h"
#include "patchlink/stream_connection.h"
#include "patchlink/wire_order.h"
#include "platform/debug.h"
#include "platform/system.h"
#include "platform/time.h"
#include "ui/language_file.h"

namespace {

constexpr int kStatusItem = 1008;
constexpr int kNoSpaceText = 183;
constexpr uint8_t kAwaitingAnswer = 1;
constexpr uint8_t kReceivingData = 2;
constexpr uint32_t kFilePauseMs = 100;

// Names replaced by a later step stay alive until the process ends: the
// connecting dialog may be painting with the old pointer on the main thread.
platform::CriticalSection g_retiredLock;
std::vector<std::unique_ptr<char[]>> g_retiredNames;

void PublishFileName(const std::string& name) {
    char* text = new char[name.size() + 1];
    std::memcpy(text, name.c_str(), name.size() + 1);
    char* old = run::patchFileName.exchange(text);
    if (old) {
        platform::CriticalSectionGuard hold(g_retiredLock);
        g_retiredNames.emplace_back(old);
    }
}

void RepaintDialog() {
    platform::WindowHandle window = run::dialogWindow.load();
    if (window) platform::RepaintWindow(window);
}

int64_t FileEnd(std::FILE* file) {
    if (std::fseek(file, 0, SEEK_END) != 0) return -1;
#ifdef _WIN32
    return _ftelli64(file);
#else
    return ftello(file);
#endif
}

bool EndsInTOrX(const std::string& name) {
    char last = name.back();
    return last == 't' || last == 'T' || last == 'x' || last == 'X';
}

}  // namespace

uint32_t PatchReceiverThread(void*) {
    platform::OutputDebugStringA("Init Func\r\n");
    if (run::receiverRunning.exchange(1) != 0) return 0;
    {
        PatchReceiver receiver;
        while (run::doneFlag.load() == 0) receiver.RunPass();
    }
    run::receiverRunning.store(0);
    return 0;
}

PatchReceiver::PatchReceiver() : buffer_(new uint8_t[PatchAnswer::kAnswerLimit]) {}

PatchReceiver::~PatchReceiver() {
    if (patchFile_) std::fclose(patchFile_);
}

void PatchReceiver::RunPass() {
    platform::Sleep(0);
    uint8_t state = run::receiveState.load();
    if (state == kReceivingData && run::patchBytesReceived.load() == run::patchFileSize.load()) {
        CompleteFile();
        return;
    }
    // While an answer is being gathered, read only what still fits after it.
    size_t offset = state == kReceivingData ? 0 : gathered_;
    int n =
        patchConnection.Receive(buffer_.get() + offset, int(PatchAnswer::kAnswerLimit - offset));
    if (n > 0) platform::OutputDebugStringA("Receive something!");
    if (n <= 0) return;
    if (state == kAwaitingAnswer) {
        HandleAnswerBytes(n);
    } else if (state == kReceivingData) {
        HandleData(n);
    }
}

void PatchReceiver::HandleAnswerBytes(int n) {
    // The greeting is the single byte that opens the connection.
    if (n == 1 && gathered_ == 0 && !greeted_) {
        greeted_ = true;
        run::downloadReady.store(1);
        return;
    }
    gathered_ += size_t(n);
    PatchAnswer answer = PatchAnswer::Parse(buffer_.get(), gathered_);
    if (answer.kind == PatchAnswer::Kind::kIncomplete) return;
    gathered_ = 0;
    if (answer.kind == PatchAnswer::Kind::kMalformed) {
        EndIncomplete("Malformed answer!\r\n");
        return;
    }
    HandleAnswer(answer);
}

void PatchReceiver::HandleAnswer(const PatchAnswer& answer) {
    run::workingVersion.store(answer.version);
    run::patchTargetVersion.store(answer.version);
    if (answer.kind == PatchAnswer::Kind::kRefusal)
        HandleRefusal(answer);
    else
        HandleHeader(answer);
}

void PatchReceiver::HandleRefusal(const PatchAnswer& answer) {
    platform::OutputDebugStringA("Yeah un Erreuur!\r\n");
    // The alternatives go into the list before any flag is raised: the
    // driver falls back as soon as it sees downloadFailed and must find
    // them all there.
    for (const AlternativeServer& server : answer.alternatives) {
        auto entry = std::make_unique<PatchServerEntry>();
        entry->port = server.port;
        entry->host = server.host.c_str();  // a heap copy, cut at any NUL
        platform::CriticalSectionGuard hold(run::ServerListLock);
        run::patchServerList.Append(std::move(entry));
    }
    switch (answer.reason) {
        case 1:
            platform::OutputDebugStringA("No valid patch!\r\n");
            run::downloadFailed.store(1);
            run::downloadReady.store(1);
            break;
        case 2:
            run::downloadFailed.store(1);
            run::downloadReady.store(1);
            platform::OutputDebugStringA("Server Full!\r\n");
            break;
        case 3:
            platform::OutputDebugStringA("Server is not up to date!\r\n");
            break;
        default:
            break;
    }
    run::doneFlag.store(1);
    // A connecting dialog that is up closes at its next paint; ask for one.
    RepaintDialog();
}

void PatchReceiver::HandleHeader(const PatchAnswer& answer) {
    platform::OutputDebugStringA("Woohoo on Update\r\n");
    run::patchFileSize.store(answer.fileSize);
    if (!EnoughDiskSpace(answer.fileSize)) {
        platform::WindowHandle window = run::dialogWindow.load();
        std::string text = GetLanguageText(kNoSpaceText);
        platform::SetDlgItemTextA(window, kStatusItem, text.c_str());
        return;
    }
    if (!IsPlainFileName(answer.fileName)) {
        EndIncomplete("Bad patch file name!\r\n");
        return;
    }
    PublishFileName(answer.fileName);
    platform::OutputDebugStringA("TTTTTTT: ");
    platform::OutputDebugStringA(answer.fileName.c_str());
    platform::OutputDebugStringA("\r\n");
    // Files whose names end in "t" or "x" are always fetched whole.
    if (EndsInTOrX(answer.fileName)) {
        std::remove(answer.fileName.c_str());
        platform::Sleep(kFilePauseMs);
    }
    if (!OpenPatchFile(answer.fileName, answer.fileSize)) {
        EndIncomplete("Cannot open patch file!\r\n");
        return;
    }
    uint8_t offset[4];
    patchwire::WriteU32(offset, run::patchBytesReceived.load());
    run::receiveState.store(kReceivingData);
    SendToPatchServer(offset, sizeof offset);
}

bool PatchReceiver::EnoughDiskSpace(uint32_t fileSize) {
    uint64_t freeBytes = 0;
    // When the drive cannot be asked, the download goes ahead; a write that
    // then fails ends it incomplete.
    if (!platform::GetCurrentDriveFreeBytes(&freeBytes)) return true;
    uint64_t needed = uint64_t(fileSize) * 150 / 100;
    return freeBytes >= needed;
}

bool PatchReceiver::OpenPatchFile(const std::string& name, uint32_t fileSize) {
    patchFile_ = std::fopen(name.c_str(), "ab");
    if (!patchFile_) return false;
    int64_t end = FileEnd(patchFile_);
    if (end > int64_t(fileSize)) {
        // A local file longer than announced is not this patch: fetch anew.
        std::fclose(patchFile_);
        std::remove(name.c_str());
        patchFile_ = std::fopen(name.c_str(), "ab");
        if (!patchFile_) return false;
        end = FileEnd(patchFile_);
    }
    if (end < 0) {
        std::fclose(patchFile_);
        patchFile_ = nullptr;
        return false;
    }
    run::patchBytesReceived.store(uint32_t(end));
    return true;
}

void PatchReceiver::HandleData(int n) {
    if (!patchFile_) {
        EndIncomplete("No patch file open!\r\n");
        return;
    }
    // Bytes beyond the announced size are not part of the file.
    uint32_t room = run::patchFileSize.load() - run::patchBytesReceived.load();
    size_t take = size_t(n) < room ? size_t(n) : size_t(room);
    // Flushed at once: what patchBytesReceived counts is on disk, and a full
    // disk shows here rather than at the close.
    if (std::fwrite(buffer_.get(), 1, take, patchFile_) != take || std::fflush(patchFile_) != 0) {
        EndIncomplete("Cannot write patch file!\r\n");
        return;
    }
    platform::OutputDebugStringA("Downloading\r\n");
    run::patchBytesReceived.fetch_add(uint32_t(take));
    uint32_t now = platform::TimeGetTime();
    if (platform::TickDiff(now, run::lastSendTick.load()) > kRepaintIntervalMs) {
        run::lastSendTick.store(now);
        RepaintDialog();
    }
    platform::DebugPrintf("Value %d - %d\r\n", int(run::patchBytesReceived.load()),
                          int(run::patchFileSize.load()));
    if (run::patchBytesReceived.load() == run::patchFileSize.load()) CompleteFile();
    SendToPatchServer(nullptr, 0);
}

void PatchReceiver::CompleteFile() {
    bool closed = !patchFile_ || std::fclose(patchFile_) == 0;
    patchFile_ = nullptr;
    if (!closed) {
        EndIncomplete("Cannot write patch file!\r\n");
        return;
    }
    platform::Sleep(kFilePauseMs);
    // downloadComplete before doneFlag: the dialog may close, and the driver
    // read downloadComplete, the moment doneFlag is seen.
    run::downloadComplete.store(1);
    run::doneFlag.store(1);
    run::lastSendTick.store(platform::TimeGetTime());
    RepaintDialog();
}

void PatchReceiver::EndIncomplete(const char* why) {
    platform::OutputDebugStringA(why);
    if (patchFile_) {
        std::fclose(patchFile_);
        patchFile_ = nullptr;
    }
    run::doneFlag.store(1);
    RepaintDialog();
}

#include "patchlink/patch_receiver.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "patchlink/receiver_core.h"
#include "patchlink/stream_connection.h"
#include "patchlink/wire_order.h"
#include "platform/debug.h"
#include "platform/sync.h"
#include "platform/system.h"
#include "platform/time.h"
#include "run/download_state.h"
#include "run/patch_server_list.h"
#include "ui/language_file.h"

namespace {

constexpr int kStatusItem = 1008;
constexpr int kNoSpaceText = 183;
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

int64_t FileEnd(std::FILE* file) {
    if (std::fseek(file, 0, SEEK_END) != 0) return -1;
#ifdef _WIN32
    return _ftelli64(file);
#else
    return ftello(file);
#endif
}

const char* RefusalTrace(uint32_t reason) {
    switch (reason) {
        case 1:
            return "No valid patch!\r\n";
        case 2:
            return "Server Full!\r\n";
        case 3:
            return "Server is not up to date!\r\n";
        default:
            return "";
    }
}

class ReceiverShell : public ReceiverFacts {
public:
    ReceiverShell() : core_(*this, run::lastSendTick.load()) {}
    ~ReceiverShell() { CloseFile(); }
    ReceiverShell(const ReceiverShell&) = delete;
    ReceiverShell& operator=(const ReceiverShell&) = delete;

    void Run() {
        while (run::doneFlag.load() == 0) {
            platform::Sleep(0);
            int n = patchConnection.Receive(buffer_.get(), int(PatchAnswer::kAnswerLimit));
            if (n == StreamConnection::kFatal) return StopOnNetworkFailure();
            if (n <= 0) continue;  // a read that would block, without waiting
            platform::OutputDebugStringA("Receive something!");
            Perform(core_.Feed(buffer_.get(), size_t(n), platform::TimeGetTime()));
        }
    }

    bool FreeBytes(uint64_t* bytes) override { return platform::GetCurrentDriveFreeBytes(bytes); }

    uint64_t LocalFileSize(const std::string& name) override {
#ifdef _WIN32
        struct _stat64 info;
        return _stat64(name.c_str(), &info) == 0 ? uint64_t(info.st_size) : 0;
#else
        struct stat info;
        return stat(name.c_str(), &info) == 0 ? uint64_t(info.st_size) : 0;
#endif
    }

private:
    ReceiverCore core_;

    // The connection failed: the file keeps what it has (flushed after each
    // write, so the next run resumes it), the failure is published before
    // the stop, and the dialog repaints to see it. The driver ends the run.
    void StopOnNetworkFailure() {
        CloseFile();
        run::networkFailed.store(1);
        run::doneFlag.store(1);
        platform::WindowHandle window = run::dialogWindow.load();
        if (window) platform::RepaintWindow(window);
    }

    std::unique_ptr<uint8_t[]> buffer_{new uint8_t[PatchAnswer::kAnswerLimit]};
    std::FILE* file_ = nullptr;

    void Perform(const std::vector<ReceiverAction>& actions) {
        for (const ReceiverAction& action : actions) {
            if (!PerformOne(action)) {
                platform::OutputDebugStringA("Patch file failed!\r\n");
                Perform(core_.FileFailed(platform::TimeGetTime()));
                return;
            }
        }
    }

    // False when the patch file could not be opened, written or closed.
    bool PerformOne(const ReceiverAction& action) {
        switch (action.kind) {
            case ReceiverAction::kGreeting:
                run::downloadReady.store(1);
                break;
            case ReceiverAction::kListServer: {
                auto entry = std::make_unique<PatchServerEntry>();
                entry->port = action.port;
                entry->host = action.text;
                platform::CriticalSectionGuard hold(run::ServerListLock);
                run::patchServerList.Append(std::move(entry));
                break;
            }
            case ReceiverAction::kRefusal:
                platform::OutputDebugStringA("Yeah un Erreuur!\r\n");
                platform::OutputDebugStringA(RefusalTrace(action.value));
                run::workingVersion.store(0);
                run::patchTargetVersion.store(0);
                if (action.failed) {
                    run::downloadFailed.store(1);
                    run::downloadReady.store(1);
                }
                break;
            case ReceiverAction::kHeader:
                platform::OutputDebugStringA("Woohoo on Update\r\n");
                run::workingVersion.store(action.value);
                run::patchTargetVersion.store(action.value);
                run::patchFileSize.store(action.size);
                break;
            case ReceiverAction::kNoSpace: {
                // Set before the dialog is looked up: a dialog opening now
                // either shows the text itself or is found here.
                run::shortOfSpace.store(1);
                std::string text = GetLanguageText(kNoSpaceText);
                platform::SetDlgItemTextA(run::dialogWindow.load(), kStatusItem, text.c_str());
                break;
            }
            case ReceiverAction::kStartFile:
                return StartFile(action);
            case ReceiverAction::kWrite:
                // Flushed at once: what patchBytesReceived counts is on disk,
                // and a full disk shows here rather than at the close.
                if (std::fwrite(action.data, 1, action.length, file_) != action.length ||
                    std::fflush(file_) != 0)
                    return false;
                platform::OutputDebugStringA("Downloading\r\n");
                run::patchBytesReceived.store(action.value);
                platform::DebugPrintf("Value %d - %d\r\n", int(action.value),
                                      int(run::patchFileSize.load()));
                break;
            case ReceiverAction::kRepaint: {
                run::lastSendTick.store(action.value);
                platform::WindowHandle window = run::dialogWindow.load();
                if (window) platform::RepaintWindow(window);
                break;
            }
            case ReceiverAction::kComplete:
                if (!CloseFile()) return false;
                platform::Sleep(kFilePauseMs);
                run::downloadComplete.store(1);
                break;
            case ReceiverAction::kDone:
                CloseFile();
                run::doneFlag.store(1);
                break;
            case ReceiverAction::kAcknowledge:
                SendToPatchServer(nullptr, 0);
                break;
        }
        return true;
    }

    bool StartFile(const ReceiverAction& action) {
        PublishFileName(action.text);
        platform::OutputDebugStringA("TTTTTTT: ");
        platform::OutputDebugStringA(action.text.c_str());
        platform::OutputDebugStringA("\r\n");
        if (action.whole) {
            std::remove(action.text.c_str());
            platform::Sleep(kFilePauseMs);
        }
        file_ = std::fopen(action.text.c_str(), "ab");
        // The file must end where the resume offset says it does.
        if (!file_ || FileEnd(file_) != int64_t(action.value)) return false;
        run::patchBytesReceived.store(action.value);
        run::receiveState.store(kReceivingData);
        uint8_t offset[4];
        patchwire::WriteU32(offset, action.value);
        SendToPatchServer(offset, sizeof offset);
        return true;
    }

    bool CloseFile() {
        if (!file_) return true;
        bool closed = std::fclose(file_) == 0;
        file_ = nullptr;
        return closed;
    }
};

}  // namespace

uint32_t PatchReceiverThread(void*) {
    platform::OutputDebugStringA("Init Func\r\n");
    if (run::receiverRunning.exchange(1) != 0) return 0;
    run::shortOfSpace.store(0);
    {
        ReceiverShell shell;
        shell.Run();
    }
    run::receiverRunning.store(0);
    return 0;
}

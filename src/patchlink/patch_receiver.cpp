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
#include "platform/file.h"
#include "platform/sync.h"
#include "platform/system.h"
#include "platform/time.h"
#include "run/download_state.h"
#include "run/patch_server_list.h"

namespace {

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
    ReceiverShell(StreamConnection& connection, ReceiverView& view,
                  const std::atomic<bool>& stopRequested)
        : connection_(connection),
          view_(view),
          stopRequested_(stopRequested),
          core_(*this, run::lastSendTick.load()) {}
    ~ReceiverShell() { CloseFile(); }
    ReceiverShell(const ReceiverShell&) = delete;
    ReceiverShell& operator=(const ReceiverShell&) = delete;

    // Reads until the exchange is over, the connection fails or the driver
    // asks it to stop; publishes the stop last.
    void Run() {
        while (!done_ && !stopRequested_.load()) {
            platform::Sleep(0);
            int n = connection_.Receive(buffer_.get(), int(PatchAnswer::kAnswerLimit));
            if (n == StreamConnection::kFatal) {
                // A read woken by the driver's stop is no network failure.
                if (!stopRequested_.load()) return StopOnNetworkFailure();
                break;
            }
            if (n <= 0) continue;  // a read that would block, without waiting
            platform::OutputDebugStringA("Receive something!");
            Perform(core_.Feed(buffer_.get(), size_t(n), platform::TimeGetTime()));
        }
        if (!done_) {
            CloseFile();
            run::downloadStep.Stopped(false);
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

    bool SignedOnly() override { return run::signedOnly.load(); }

private:
    StreamConnection& connection_;
    ReceiverView& view_;
    const std::atomic<bool>& stopRequested_;
    ReceiverCore core_;
    bool done_ = false;

    // The connection failed: the file keeps what it has (flushed after each
    // write, so the next run resumes it), the failure is published before
    // the stop, and the dialog repaints to see it. The driver ends the run.
    void StopOnNetworkFailure() {
        CloseFile();
        run::downloadStep.Stopped(true);
        view_.ShowProgress();
    }

    std::unique_ptr<uint8_t[]> buffer_{new uint8_t[PatchAnswer::kAnswerLimit]};
    platform::File file_;
    bool dropping_ = false;  // the step's file is received but not written

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
                run::downloadStep.Greeted();
                break;
            case ReceiverAction::kListServer: {
                auto entry = std::make_unique<PatchServerEntry>();
                entry->port = action.port;
                entry->host = action.text;
                run::patchServerList.Append(std::move(entry));
                break;
            }
            case ReceiverAction::kRefusal:
                platform::OutputDebugStringA("Yeah un Erreuur!\r\n");
                platform::OutputDebugStringA(RefusalTrace(action.value));
                run::workingVersion.store(0);
                run::patchTargetVersion.store(0);
                run::downloadStep.Refused(action.failed);
                break;
            case ReceiverAction::kHeader:
                platform::OutputDebugStringA("Woohoo on Update\r\n");
                run::workingVersion.store(action.value);
                run::patchTargetVersion.store(action.value);
                run::patchFileSize.store(action.size);
                break;
            case ReceiverAction::kNoSpace:
                // Set before the view is told: a dialog opening now either
                // shows it itself or is reached here.
                run::downloadStep.LacksSpace();
                view_.ShowShortOfSpace();
                break;
            case ReceiverAction::kStartFile:
                return StartFile(action);
            case ReceiverAction::kWrite:
                // Flushed at once: what patchBytesReceived counts is on disk,
                // and a full disk shows here rather than at the close.
                if (!dropping_ &&
                    (std::fwrite(action.data, 1, action.length, file_.get()) != action.length ||
                     std::fflush(file_.get()) != 0))
                    return false;
                platform::OutputDebugStringA("Downloading\r\n");
                run::patchBytesReceived.store(action.value);
                platform::DebugPrintf("Value %d - %d\r\n", int(action.value),
                                      int(run::patchFileSize.load()));
                break;
            case ReceiverAction::kRepaint:
                run::lastSendTick.store(action.value);
                view_.ShowProgress();
                break;
            case ReceiverAction::kComplete:
                if (!CloseFile()) return false;
                platform::Sleep(kFilePauseMs);
                run::downloadStep.Completed();
                break;
            case ReceiverAction::kDone:
                CloseFile();
                done_ = true;
                run::downloadStep.Stopped(false);
                break;
            case ReceiverAction::kAcknowledge:
                connection_.Send(nullptr, 0);
                break;
        }
        return true;
    }

    bool StartFile(const ReceiverAction& action) {
        PublishFileName(action.text);
        platform::OutputDebugStringA("TTTTTTT: ");
        platform::OutputDebugStringA(action.text.c_str());
        platform::OutputDebugStringA("\r\n");
        dropping_ = action.drop;
        if (action.whole) {
            std::remove(action.text.c_str());
            platform::Sleep(kFilePauseMs);
        }
        if (!dropping_) {
            file_ = platform::File(action.text.c_str(), "ab");
            // The file must end where the resume offset says it does.
            if (!file_ || FileEnd(file_.get()) != int64_t(action.value)) return false;
        }
        run::patchBytesReceived.store(action.value);
        uint8_t offset[4];
        patchwire::WriteU32(offset, action.value);
        connection_.Send(offset, sizeof offset);
        return true;
    }

    bool CloseFile() { return file_.Close(); }
};

}  // namespace

PatchReceiver::PatchReceiver(StreamConnection& connection, ReceiverView& view)
    : connection_(connection), view_(view) {}

PatchReceiver::~PatchReceiver() { Stop(); }

bool PatchReceiver::Start() {
    stopRequested_.store(false);
    started_ = thread_.Start(ThreadMain, this);
    if (!started_) run::downloadStep.Stopped(false);
    return started_;
}

void PatchReceiver::Join() {
    if (!started_) return;
    thread_.Join();
    started_ = false;
}

void PatchReceiver::Stop() {
    if (!started_) return;
    stopRequested_.store(true);
    connection_.Interrupt();
    thread_.Join();
}

uint32_t PatchReceiver::ThreadMain(void* self) {
    auto* receiver = static_cast<PatchReceiver*>(self);
    platform::OutputDebugStringA("Init Func\r\n");
    run::downloadStep.ReceiverStarted();
    ReceiverShell shell(receiver->connection_, receiver->view_, receiver->stopRequested_);
    shell.Run();
    return 0;
}

#include "driver/run_decisions.h"

#include <cctype>
#include <cstdlib>

#include "platform/time.h"
#include "text/text_numbers.h"

namespace {

constexpr int32_t kMaxFallbacks = 11;
constexpr const char* kDowngradeLimitText =
    "An Error occured with the patch system, please close everything and run MRL.EXE again.";

}  // namespace

EndOfRun EndOf(RunEnd end) {
    switch (end) {
        case RunEnd::kNormal:
            break;
        case RunEnd::kUpToDate:
            return {ExitCode::kUpToDate, 0, nullptr, false};
        case RunEnd::kNoPatchServer:
            return {ExitCode::kNoPatchServer, text_number::kNetworkFailure, nullptr, true};
        case RunEnd::kNetworkFailure:
            return {ExitCode::kNoPatchServer, text_number::kNetworkFailure, nullptr, false};
        case RunEnd::kHandedOver:
        case RunEnd::kStepKeepsFailing:
        case RunEnd::kUnreachable:  // the unanswered text came before "Keeper's Word" was read
            return {ExitCode::kNotPatched, 0, nullptr, false};
        case RunEnd::kDowngradeFailed:
            return {ExitCode::kNotPatched, text_number::kDowngradeFailed, nullptr, true};
        case RunEnd::kDowngradeLimit:
            return {ExitCode::kDowngradeLimit, 0, kDowngradeLimitText, false};
    }
    return {ExitCode::kNormalEnd, 0, nullptr, false};
}

Endpoint SplitAddress(std::string_view address, uint16_t defaultPort) {
    Endpoint endpoint;
    size_t start = address.find_first_not_of(':');
    if (start == std::string_view::npos) start = address.size();
    size_t colon = address.find(':', start);
    std::string_view host = address.substr(
        start, colon == std::string_view::npos ? std::string_view::npos : colon - start);
    endpoint.host = std::string(host.substr(0, kMaxHostLength));
    endpoint.port = defaultPort;
    if (colon == std::string_view::npos) return endpoint;
    size_t portStart = address.find_first_not_of(':', colon);
    if (portStart == std::string_view::npos) return endpoint;
    // Read like atoi: blanks, a sign and digits; anything else ends it.
    std::string portText(address.substr(portStart));
    endpoint.port = static_cast<uint16_t>(std::strtol(portText.c_str(), nullptr, 10));
    return endpoint;
}

bool VersionQuestions::RequestDue(uint32_t now, uint32_t lastSendTick) {
    if (over_ || platform::TickDiff(now, lastSendTick) <= kIntervalMs) return false;
    ++sent_;
    if (sent_ >= kMaxRequests) over_ = true;
    return true;
}

AfterAttempt DecideAfterAttempt(bool answered, uint32_t serverVersion, uint32_t installed) {
    if (installed == kNoVersion) return AfterAttempt::kVersionUnknown;
    if (!answered) return AfterAttempt::kUnreachable;
    if (serverVersion < installed) return AfterAttempt::kDowngrade;
    if (serverVersion == installed) return AfterAttempt::kUpToDate;
    return AfterAttempt::kFetch;
}

std::optional<RunEnd> EndWhenUnreachable(uint32_t keepersWord) {
    if (keepersWord != 0) return RunEnd::kUnreachable;
    return std::nullopt;
}

std::optional<Endpoint> FirstConnectionProxy(int32_t proxyEnabled, std::string_view proxyAddress) {
    if (proxyEnabled == 0 || proxyAddress.empty()) return std::nullopt;
    return SplitAddress(proxyAddress, kProxyPort);
}

std::unique_ptr<PatchServerEntry> ConnectToListed(PatchServerList& list,
                                                  const std::optional<Endpoint>& proxy,
                                                  const ConnectFn& connect) {
    while (std::unique_ptr<PatchServerEntry> entry = list.Take()) {
        Endpoint target = proxy ? *proxy : Endpoint{entry->host, entry->port};
        if (connect(*entry, target)) return entry;
    }
    return nullptr;
}

bool FallbackAllowed(bool connected, int32_t fallbacksMade) {
    return connected && fallbacksMade < kMaxFallbacks;
}

Greeting GreetingState(bool ready, bool failed, bool receiverStopped) {
    if (ready && !failed) return Greeting::kGreeted;
    if (failed || receiverStopped) return Greeting::kRefused;
    return Greeting::kWaiting;
}

FileKind KindOfFile(std::string_view name) {
    if (name.empty()) return FileKind::kLibraryPatch;
    int last = std::tolower(static_cast<unsigned char>(name.back()));
    if (last == 't' || last == 'x') return FileKind::kDataFile;
    if (last == 'e') return FileKind::kProgram;
    return FileKind::kLibraryPatch;
}

Handling HandlingOf(FileKind kind, bool keyed) {
    switch (kind) {
        case FileKind::kDataFile:
            return keyed ? Handling::kRefuse : Handling::kKeep;
        case FileKind::kProgram:
            return keyed ? Handling::kRefuse : Handling::kStart;
        case FileKind::kLibraryPatch:
            break;
    }
    return Handling::kApply;
}

AfterApplying AfterApplication(Handling handling, bool done, const StepVersions& versions) {
    AfterApplying after;
    after.installed = versions.installed;
    after.working = versions.working;
    switch (handling) {
        case Handling::kKeep:
            after.record = versions.target;
            after.installed = versions.working;
            break;
        case Handling::kStart:
            // A program that will not start is not recorded; the loop goes on.
            if (done) {
                after.record = versions.working;
                after.end = RunEnd::kHandedOver;
            }
            break;
        case Handling::kApply:
        case Handling::kRefuse:
            if (done && handling == Handling::kApply) {
                after.record = versions.target;
                after.openReleaseNotes = versions.target == versions.server;
                after.installed = versions.working;
            } else {
                // Rejected twice, or refused: the next step asks for the same file
                // anew. A refused file was never written: a file of its name is
                // not the server's and stays.
                after.working = versions.installed;
                after.deleteFile = handling == Handling::kApply;
            }
            break;
    }
    return after;
}

bool StepFailures::Count(uint32_t installedBefore, uint32_t installedAfter) {
    inARow_ = installedAfter == installedBefore ? inARow_ + 1 : 0;
    return inARow_ >= kLimit;
}

bool ApplyPatchFile(const LibraryFn& library, const std::string& fileName) {
    const std::string commandLine = fileName + " -u";
    return library(commandLine) == 0 || library(commandLine) == 0;
}

RunEnd RunDowngradeSteps(uint32_t serverVersion, uint32_t installed,
                         const DowngradeActions& actions) {
    uint32_t working = installed;
    int steps = 0;
    while (serverVersion < working && steps < kMaxDowngradeSteps) {
        ++steps;
        const uint32_t from = working;
        const uint32_t to = --working;
        actions.beginStep();
        const std::string stem = std::to_string(from) + "to" + std::to_string(to);
        if (actions.startProgram(stem + ".exe")) {
            actions.record(to);
            return RunEnd::kHandedOver;
        }
        if (!ApplyPatchFile(actions.library, stem + ".rtp")) return RunEnd::kDowngradeFailed;
        actions.record(to);
        actions.endStep();
    }
    // Five steps end the run even when the fifth reached the server's version.
    return steps == kMaxDowngradeSteps ? RunEnd::kDowngradeLimit : RunEnd::kNormal;
}

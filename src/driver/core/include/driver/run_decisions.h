// The driver's decisions, as functions over the little state they need. The
// Win32 shell (discovery.cpp, acquisition.cpp, application.cpp, run_end.cpp)
// does what they decide: it owns the windows, the sockets, the files and the
// clock, and nothing here touches any of them.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/process_end.h"
#include "run/patch_server_list.h"

// ---- How a run ends --------------------------------------------------------

enum class RunEnd {
    kNormal,            // the entry point returns 1
    kUpToDate,          // the install has the server's version
    kNoPatchServer,     // no listed server accepted, or too many fallbacks
    kNetworkFailure,    // Windows Sockets, a name or the connection failed
    kHandedOver,        // a patch program was started and takes over
    kStepKeepsFailing,  // a step's file was rejected three times in a row
    kDowngradeFailed,   // a downgrade file is missing or was rejected
    kUnreachable,       // the game server did not answer and "Keeper's Word" is set
    kDowngradeLimit,    // five downgrade steps made in this run
};

struct EndOfRun {
    ExitCode exitCode;
    int textNumber;       // the error box's text from the text table; 0: none
    const char* literal;  // the error box's fixed text instead; null: none
    bool closeSearching;  // the searching dialog is ended before the box
};

EndOfRun EndOf(RunEnd end);

// ---- Asking the game server ------------------------------------------------

// "Version" when the registry holds none that can be read.
constexpr uint32_t kNoVersion = 0xFFFFFFFFu;

constexpr uint16_t kGameServerPort = 11677;
constexpr uint16_t kProxyPort = 11679;
constexpr size_t kMaxHostLength = 99;

struct Endpoint {
    std::string host;
    uint16_t port = 0;
};

// "host[:port]": the host is the text before the first colon (leading colons
// skipped), cut to 99 characters; the port is the decimal number after it,
// or `defaultPort` when there is none or nothing follows the colon.
Endpoint SplitAddress(std::string_view address, uint16_t defaultPort);

// The version question within one attempt to reach the game server: a
// request at the first poll and whenever more than 1000 ms have passed since
// the last one (ticks compared by unsigned difference); the sixteenth request
// ends the wait, and the attempt then counts as unanswered even when an
// answer comes with it.
class VersionQuestions {
public:
    static constexpr uint32_t kIntervalMs = 1000;
    static constexpr uint8_t kMaxRequests = 16;

    // `linkUp` false (the link could not be opened): the first request is
    // also the last.
    explicit VersionQuestions(bool linkUp) : sent_(linkUp ? 0 : kMaxRequests - 1) {}

    // At each poll: true when a request goes out now (the caller then sets
    // `lastSendTick` to `now`).
    bool RequestDue(uint32_t now, uint32_t lastSendTick);
    void AnswerRead() { over_ = true; }
    bool Over() const { return over_; }
    bool Answered() const { return sent_ < kMaxRequests; }

private:
    uint8_t sent_;
    bool over_ = false;
};

enum class AfterAttempt { kVersionUnknown, kDowngrade, kUnreachable, kUpToDate, kFetch };

// How the run goes on after an attempt. `installed` is "Version" as read
// (0xFFFFFFFF when absent or unreadable, which ends the run normally whether
// or not the server answered); versions compare unsigned.
AfterAttempt DecideAfterAttempt(bool answered, uint32_t serverVersion, uint32_t installed);

// After the unanswered text (text_number::kGameServerSilent): "Keeper's Word" ends the run;
// otherwise the server selection dialog comes again, in silent mode too, and a new attempt starts.
std::optional<RunEnd> EndWhenUnreachable(uint32_t keepersWord);

// ---- Connecting to patch servers -------------------------------------------

// The proxy of the first connection: only when it is switched on and has an
// address (silent mode never asks for one; the listed servers are then
// reached directly); port 11679 when the address names none.
std::optional<Endpoint> FirstConnectionProxy(int32_t proxyEnabled, std::string_view proxyAddress);

// Tries the listed servers in order until one accepts: each attempt takes one
// entry and goes to `proxy` when given, else to the entry itself; once a
// connection is made no further entry is taken. Returns the entry of the
// connection, or null when none accepted. No lock is held while `connect`
// runs: the list locks each Take on its own.
using ConnectFn = std::function<bool(const PatchServerEntry& entry, const Endpoint& target)>;
std::unique_ptr<PatchServerEntry> ConnectToListed(PatchServerList& list,
                                                  const std::optional<Endpoint>& proxy,
                                                  const ConnectFn& connect);

// After a fallback's connection loop: going on needs a connection, and at
// most eleven fallbacks are made in a run (the twelfth ends it).
bool FallbackAllowed(bool connected, int32_t fallbacksMade);

enum class Greeting { kWaiting, kGreeted, kRefused };

// While the driver waits for the patch server to speak. A receiver that
// stopped without a greeting or a refusal counts as a refusal.
Greeting GreetingState(bool ready, bool failed, bool receiverStopped);

// ---- Applying files ----------------------------------------------------------

enum class FileKind { kDataFile, kProgram, kLibraryPatch };

// By the last character of the name, in either case: "t" or "x" a data file
// taken as it is, "e" a program that takes over, anything else a file for
// the patch library.
FileKind KindOfFile(std::string_view name);

// What the shell does with a downloaded file: keeps it as it came (a data
// file), starts it (a program), hands it to the patch library, or refuses
// it (the receiver dropped its bytes: nothing was written, nothing starts).
enum class Handling { kKeep, kStart, kApply, kRefuse };

// `keyed`: the patch library holds trusted keys, so only what one of them
// signed may change the install. A program or data file carries no
// signature, so with a keyed library it is refused like a rejected patch;
// studios ship programs and data inside signed patches instead.
Handling HandlingOf(FileKind kind, bool keyed);

struct StepVersions {
    uint32_t server;     // announced by the game server
    uint32_t installed;  // in place before the step
    uint32_t working;    // the step leads to
    uint32_t target;     // the patch header's version
};

struct AfterApplying {
    std::optional<uint32_t> record;  // written to "Version"
    bool openReleaseNotes = false;
    bool deleteFile = false;
    uint32_t installed = 0;
    uint32_t working = 0;
    std::optional<RunEnd> end;
};

// What follows the handling of a downloaded file. `done`: the program
// started, or the library applied the file (a kept data file is always
// done, a refused file never).
AfterApplying AfterApplication(Handling handling, bool done, const StepVersions& versions);

// Applications in a row that left the install where it was; the third ends
// the run, since fetching the same file again would never end.
class StepFailures {
public:
    static constexpr int kLimit = 3;
    // True when the run must end.
    bool Count(uint32_t installedBefore, uint32_t installedAfter);

private:
    int inARow_ = 0;
};

// The patch library, called with "<file> -u" and given a second chance;
// true when one of the calls returned 0.
using LibraryFn = std::function<int(const std::string& commandLine)>;
bool ApplyPatchFile(const LibraryFn& library, const std::string& fileName);

// ---- Stepping down -------------------------------------------------------------

constexpr int kMaxDowngradeSteps = 5;

struct DowngradeActions {
    std::function<void()> beginStep;  // the patching dialog opens
    std::function<void()> endStep;    // ...and closes
    std::function<bool(const std::string& program)> startProgram;
    LibraryFn library;
    std::function<void(uint32_t version)> record;  // "Version"
};

// Steps the install down from `installed` towards `serverVersion` with the
// local files "NtoM.exe" (started; it takes over) or "NtoM.rtp" (patch
// library), recording each step at once; five steps at most in a run.
// Returns how the run ends.
RunEnd RunDowngradeSteps(uint32_t serverVersion, uint32_t installed,
                         const DowngradeActions& actions);

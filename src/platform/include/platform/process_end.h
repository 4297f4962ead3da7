// How the process ends: the exit codes its caller tells apart, and the one
// way to end it.
#pragma once

enum class ExitCode : int {
    kNothingDone = 0,       // another updater or the game runs; no "Security.Chk"
    kNormalEnd = 1,         // the run ended normally (see the README for the cases)
    kUpToDate = 232,        // the install has the server's version
    kNoPatchServer = 233,   // no patch server reachable, or a network failure
    kNotPatched = 234,      // handed over, downgrade failed, cancelled, unreachable
    kDowngradeLimit = 240,  // five downgrade steps in one run
};

namespace platform {

// Ends the process with `code`, from any thread. Nothing is torn down while
// another thread may still run: the C streams are flushed, then the process
// ends without static destructors or exit handlers (ExitProcess on Windows,
// which stops the other threads first; _exit natively). Whatever must
// outlive the process (the patch file, the registry) is already written by
// then; an error box, if any, is shown by the caller before.
[[noreturn]] void Terminate(ExitCode code);

}  // namespace platform

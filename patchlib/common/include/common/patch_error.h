// Every failure of the patch library is a PatchError carrying the result code
// that PATCHW32.dll hands back to its caller.
#pragma once

#include <stdexcept>
#include <string>

namespace patchlib {

// Result codes of an application; 0 is success. Stable: they are the DLL's
// return values and mkpatch's exit codes.
enum class PatchResult : int {
    Ok = 0,
    BadCommandLine = 1,   // no file name, or an unknown switch
    CannotReadPatch = 2,  // the patch file is missing or unreadable
    CorruptPatch = 3,     // wrong magic or version, truncated, hash mismatch, malformed
    UnsafePath = 4,       // a path that would leave the target directory
    TreeMismatch = 5,     // an old file is missing or differs from what the patch expects
    WriteFailed = 6,      // a new file could not be built or swapped in; tree restored
    RollbackFailed = 7,   // restoring the old tree failed too: backups were kept
    Internal = 8,         // out of memory or another unexpected failure
    Untrusted = 9,        // keys are built in and no trusted key signed the patch
};

class PatchError : public std::runtime_error {
public:
    PatchError(PatchResult result, const std::string& message)
        : std::runtime_error(message), result_(result) {}
    PatchResult result() const { return result_; }

private:
    PatchResult result_;
};

}  // namespace patchlib

// patchapply PATCH [DIR]: applies a patch file to a directory (the current one
// by default) exactly as PATCHW32.dll does; the exit code is the library's
// result code. For operators checking a patch and for the benchmark.
#include <cstdio>
#include <cstring>
#include <string>

#include "patch_applier.h"

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3 || std::strcmp(argv[1], "--help") == 0) {
        std::fputs(
            "usage: patchapply PATCH [DIR]\n"
            "Applies PATCH to DIR (default: the current directory), all or nothing.\n"
            "Exit code: 0 applied, otherwise the library's result code.\n",
            argc == 2 ? stdout : stderr);
        return argc == 2 ? 0 : 1;
    }
    patchlib::PatchApplier applier;
    std::string message;
    patchlib::ApplySummary summary;
    patchlib::PatchResult result =
        applier.Apply(std::filesystem::u8path(argv[1]),
                      std::filesystem::u8path(argc == 3 ? argv[2] : "."), &message, &summary);
    if (result != patchlib::PatchResult::Ok) {
        std::fprintf(stderr, "patchapply: %s (code %d)\n", message.c_str(),
                     static_cast<int>(result));
        return static_cast<int>(result);
    }
    std::printf("applied: %zu files written, %zu deleted%s%s\n", summary.filesWritten,
                summary.filesDeleted, summary.alreadyApplied ? " (already applied)" : "",
                summary.cleanupLeft ? "; backups left for the next run to remove" : "");
    return 0;
}

// patchapply [--key PUBLIC]... PATCH [DIR]: applies a patch file to a
// directory (the current one by default) exactly as PATCHW32.dll does, and
// with keys as a PATCHW32.dll built with them does; the exit code is the
// library's result code. For operators checking a patch and for the benchmark.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "crypto/key_file.h"
#include "apply/patch_applier.h"
#include "mrl_version.h"

namespace {

const char kUsage[] =
    "Usage: patchapply [--key PUBLIC]... PATCH [DIR]\n"
    "\n"
    "Applies PATCH to DIR (default: the current directory), all or nothing,\n"
    "exactly as PATCHW32.dll does.\n"
    "\n"
    "Options:\n"
    "  --key PUBLIC  apply only a patch signed by this key (a PEM public key\n"
    "                file); repeatable\n"
    "  --help        this text\n"
    "  --version     the version of this build\n"
    "\n"
    "Exit code: 0 applied, otherwise the library's result code.\n";

}  // namespace

int main(int argc, char** argv) {
    patchlib::ApplyOptions options;
    std::vector<const char*> paths;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("patchapply (%s) %s\n", MRL_PRODUCT_NAME, MRL_VERSION_TEXT);
            return 0;
        } else if (std::strcmp(argv[i], "--key") == 0 && i + 1 < argc) {
            try {
                options.trustedKeys.push_back(
                    patchlib::KeyFile::ReadPublic(std::filesystem::u8path(argv[++i])));
            } catch (const patchlib::KeyFileError& error) {
                std::fprintf(stderr, "patchapply: %s\n", error.what());
                return 1;
            }
        } else {
            paths.push_back(argv[i]);
        }
    }
    if (paths.empty() || paths.size() > 2) {
        std::fputs(kUsage, stderr);
        return 1;
    }
    patchlib::PatchApplier applier(std::move(options));
    std::string message;
    patchlib::ApplySummary summary;
    patchlib::PatchResult result = applier.Apply(
        std::filesystem::u8path(paths[0]),
        std::filesystem::u8path(paths.size() == 2 ? paths[1] : "."), &message, &summary);
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

// mkpatch OLD_DIR NEW_DIR OUT: builds the patch that turns the old tree into
// the new one. The same command with the trees swapped builds the downgrade
// file. Exit code 0 on success, 1 for a usage error, 2 when the patch could
// not be built (the message says why).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "patch_builder.h"
#include "patch_error.h"

namespace {

const char kUsage[] =
    "usage: mkpatch [--window MB] [--quiet] OLD_DIR NEW_DIR OUT\n"
    "\n"
    "Builds a patch file that turns the directory tree OLD_DIR into NEW_DIR:\n"
    "files added, removed, and changed (as a binary delta, or whole when that\n"
    "is smaller), with the size and SHA-256 of every old and new file. Apply it\n"
    "with PATCHW32.dll (\"OUT -u\" in the game directory). Swap OLD_DIR and\n"
    "NEW_DIR to build the downgrade file.\n"
    "\n"
    "  --window MB  old files larger than this are matched piecewise (default\n"
    "               128); mkpatch needs about 12 bytes of memory per window\n"
    "               byte plus both versions of the largest changed file\n"
    "  --quiet      no progress line and no summary\n"
    "  --help       this text\n";

std::string Bytes(uint64_t n) {
    char text[64];
    if (n >= (10ull << 20))
        std::snprintf(text, sizeof(text), "%.1f MiB", static_cast<double>(n) / (1 << 20));
    else if (n >= (10ull << 10))
        std::snprintf(text, sizeof(text), "%.1f KiB", static_cast<double>(n) / (1 << 10));
    else
        std::snprintf(text, sizeof(text), "%llu bytes", static_cast<unsigned long long>(n));
    return text;
}

// A single progress line on stderr for trees worth waiting for.
void ShowProgress(uint64_t done, uint64_t total, const std::string& path) {
    static int lastPercent = -1;
    if (total < (32ull << 20)) return;
    int percent = static_cast<int>(done * 100 / total);
    if (percent == lastPercent && !path.empty()) return;
    lastPercent = percent;
    std::string shown = path.size() > 50 ? "..." + path.substr(path.size() - 47) : path;
    std::fprintf(stderr, "\rmkpatch: %3d%% %-50s", percent, shown.c_str());
    if (path.empty()) std::fprintf(stderr, "\n");
    std::fflush(stderr);
}

void PrintSummary(const patchlib::BuildSummary& s, const char* out) {
    std::printf("%s: %s\n", out, Bytes(s.patchBytes).c_str());
    std::printf("  files added:   %zu (%s)\n", s.filesAdded, Bytes(s.bytesAdded).c_str());
    std::printf("  files changed: %zu (%s new content; %zu as delta, %zu whole)\n", s.filesChanged,
                Bytes(s.bytesChanged).c_str(), s.deltas, s.filesChanged - s.deltas);
    std::printf("  files removed: %zu (%s)\n", s.filesRemoved, Bytes(s.bytesRemoved).c_str());
    std::printf("  unchanged:     %zu\n", s.filesUnchanged);
    std::printf("  directories:   %zu added, %zu removed\n", s.directoriesAdded,
                s.directoriesRemoved);
    std::printf("  trees:         old %s, new %s\n", Bytes(s.oldTreeBytes).c_str(),
                Bytes(s.newTreeBytes).c_str());
    uint64_t moved = s.bytesAdded + s.bytesChanged;
    if (moved > 0)
        std::printf("  patch size:    %.2f%% of the added and changed content\n",
                    100.0 * static_cast<double>(s.patchBytes) / static_cast<double>(moved));
}

}  // namespace

int main(int argc, char** argv) {
    patchlib::BuildOptions options;
    bool quiet = false;
    const char* positional[3] = {};
    int count = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--quiet") == 0) {
            quiet = true;
        } else if (std::strcmp(argv[i], "--window") == 0 && i + 1 < argc) {
            char* end = nullptr;
            unsigned long long mb = std::strtoull(argv[++i], &end, 10);
            if (*end || mb == 0 || mb > 2047) {
                std::fprintf(stderr, "mkpatch: --window takes a size in MB from 1 to 2047\n");
                return 1;
            }
            options.window = mb << 20;
        } else if (argv[i][0] == '-' && argv[i][1] == '-') {
            std::fprintf(stderr, "mkpatch: unknown option %s\n%s", argv[i], kUsage);
            return 1;
        } else if (count < 3) {
            positional[count++] = argv[i];
        } else {
            count = 4;
        }
    }
    if (count != 3) {
        std::fputs(kUsage, stderr);
        return 1;
    }
    if (!quiet) options.progress = ShowProgress;
    try {
        patchlib::BuildSummary summary = patchlib::PatchBuilder::Build(
            std::filesystem::u8path(positional[0]), std::filesystem::u8path(positional[1]),
            std::filesystem::u8path(positional[2]), options);
        if (!quiet) PrintSummary(summary, positional[2]);
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "\nmkpatch: %s\n", error.what());
        return 2;
    }
}

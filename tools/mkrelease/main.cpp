// mkrelease [--jobs N] [--direct K] [--key PRIVATE] TREES OUT: every patch
// of a release (signed with --key) and the patch server's manifest, from one
// complete game tree per version.
// Exit code 0 on success, 2 for bad usage or input, 1 when a step failed.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "crypto/key_file.h"
#include "format/patch_signature.h"
#include "mrl_version.h"
#include "release.h"

#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

namespace {

const char kUsage[] =
    "Usage: mkrelease [--jobs N] [--direct K] [--key PRIVATE] TREES OUT\n"
    "\n"
    "TREES/1, TREES/2, ... each hold the complete game tree of one version\n"
    "(consecutive numbers; the highest is the newest). mkrelease writes into\n"
    "OUT every upgrade step NtoN+1.rtp and the manifest.txt the patch server\n"
    "reads, and every downgrade file N+1toN.rtp, which ships in the game\n"
    "directory. A step is built again only when one of its trees or its file\n"
    "changed since the last run (OUT/mkrelease.state).\n"
    "\n"
    "Options:\n"
    "  --jobs N        steps built at once (default: the machine's cores)\n"
    "  --direct K      also NtoLATEST.rtp for the K versions before the newest,\n"
    "                  listed in the manifest: those players fetch one patch\n"
    "  --key PRIVATE   sign every patch, downgrade files included, with this\n"
    "                  private key (mkpatch keygen); a new key rebuilds them all\n"
    "  --help          this text\n"
    "  --version       the version of this build\n"
    "\n"
    "Exit code: 0 built, 2 bad usage or input (nothing built), 1 a step failed.\n";

int Usage(const std::string& problem) {
    std::fprintf(stderr, "mkrelease: %s\n%s", problem.c_str(), kUsage);
    return 2;
}

bool ParseCount(const char* text, unsigned long limit, unsigned long* value) {
    char* end = nullptr;
    *value = std::strtoul(text, &end, 10);
    return text[0] >= '0' && text[0] <= '9' && *end == '\0' && *value <= limit;
}

// One line on stderr, rewritten in place; only on a terminal.
void ShowProgress(const release::Progress& p) {
    static int shown = -1;
    int percent = p.bytesTotal ? int(p.bytesDone * 100 / p.bytesTotal) : 100;
    if (percent == shown && p.stepsDone < p.stepsToBuild) return;
    shown = percent;
    std::fprintf(stderr, "\rmkrelease: %zu of %zu steps built, %3d%%", p.stepsDone, p.stepsToBuild,
                 percent);
    if (p.stepsDone == p.stepsToBuild) std::fprintf(stderr, "\r%50s\r", "");
    std::fflush(stderr);
}

void PrintTable(const release::Report& report, const release::Options& options) {
    std::printf("%-16s %12s %12s %11s\n", "step", "patch bytes", "of new tree", "build time");
    size_t built = 0;
    for (const release::StepResult& r : report.steps) {
        std::string name = r.step.Name() + (r.step.direct ? " *" : "");
        if (!r.error.empty()) {
            std::printf("%-16s FAILED: %s\n", name.c_str(), r.error.c_str());
            continue;
        }
        double share = r.newTreeBytes ? 100.0 * double(r.patchBytes) / double(r.newTreeBytes) : 0;
        std::printf("%-16s %12llu %10.1f %%", name.c_str(), (unsigned long long)r.patchBytes,
                    share);
        if (r.built)
            std::printf(" %9.2f s\n", r.seconds);
        else
            std::printf(" %11s\n", "unchanged");
        built += r.built;
    }
    std::printf("%zu steps, %zu built, in %.2f s with %u jobs%s\n", report.steps.size(), built,
                report.seconds, options.jobs,
                report.ok ? "" : "; FAILED, manifest.txt not written");
    if (options.signingKey)
        std::printf("every patch signed by key %s\n",
                    patchlib::PatchSignature::ShortId(options.signingKey->publicKey).c_str());
}

// For each version with a direct patch: what its players download either way.
void PrintDirect(const release::Report& report) {
    bool any = false;
    for (const release::StepResult& direct : report.steps) {
        if (!direct.step.direct) continue;
        if (!any) std::printf("\n* direct patch; a player downloads:\n");
        any = true;
        unsigned long long chain = 0;
        for (const release::StepResult& r : report.steps)
            if (!r.step.direct && r.step.to == r.step.from + 1 && r.step.from >= direct.step.from)
                chain += r.patchBytes;
        std::printf("  from version %u: %llu bytes in %u steps through the chain, %llu directly\n",
                    direct.step.from, chain, direct.step.to - direct.step.from,
                    (unsigned long long)direct.patchBytes);
    }
}

}  // namespace

int main(int argc, char** argv) {
    release::Options options;
    options.jobs = std::thread::hardware_concurrency();
    if (options.jobs == 0) options.jobs = 1;
    patchlib::KeyPair key;
    const char* paths[2] = {};
    int count = 0;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        unsigned long value = 0;
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (arg == "--version") {
            std::printf("mkrelease (%s) %s\n", MRL_PRODUCT_NAME, MRL_VERSION_TEXT);
            return 0;
        } else if (arg == "--jobs" && i + 1 < argc) {
            if (!ParseCount(argv[++i], 1024, &value) || value == 0)
                return Usage("--jobs takes a number from 1 to 1024");
            options.jobs = unsigned(value);
        } else if (arg == "--direct" && i + 1 < argc) {
            if (!ParseCount(argv[++i], 0xFFFFFFFFul, &value))
                return Usage("--direct takes a number of versions");
            options.direct = uint32_t(value);
        } else if (arg == "--key" && i + 1 < argc) {
            try {
                key = patchlib::KeyFile::ReadPrivate(std::filesystem::u8path(argv[++i]));
            } catch (const patchlib::KeyFileError& error) {
                return Usage(error.what());
            }
            options.signingKey = &key;
        } else if (arg.size() > 1 && arg[0] == '-') {
            return Usage("unknown option " + arg);
        } else if (count < 2) {
            paths[count++] = argv[i];
        } else {
            return Usage("one TREES and one OUT, nothing more");
        }
    }
    if (count != 2) return Usage("TREES and OUT are needed");
    if (isatty(fileno(stderr))) options.progress = ShowProgress;
    try {
        release::Report report = release::BuildRelease(std::filesystem::u8path(paths[0]),
                                                       std::filesystem::u8path(paths[1]), options);
        PrintTable(report, options);
        PrintDirect(report);
        return report.ok ? 0 : 1;
    } catch (const release::InputError& error) {
        std::fprintf(stderr, "mkrelease: %s\n", error.what());
        return 2;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "mkrelease: %s\n", error.what());
        return 1;
    }
}

// mkpatch OLD_DIR NEW_DIR OUT: builds the patch that turns the old tree into
// the new one (signed with --key). The same command with the trees swapped
// builds the downgrade file. "mkpatch keygen NAME" makes a signing key pair,
// "mkpatch verify PATCH PUBLIC" checks a patch and its signature. Exit code 0
// on success, 1 for a usage error, 2 when the patch could not be built, a key
// not made or read, or the patch is not intact and signed by that key (the
// message says why).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "crypto/key_file.h"
#include "builder/patch_builder.h"
#include "common/patch_error.h"
#include "format/patch_reader.h"
#include "format/patch_signature.h"
#include "mrl_version.h"

namespace {

const char kUsage[] =
    "Usage: mkpatch [--window MB] [--key PRIVATE] [--quiet] OLD_DIR NEW_DIR OUT\n"
    "  or:  mkpatch keygen NAME\n"
    "  or:  mkpatch verify PATCH PUBLIC\n"
    "\n"
    "Builds a patch file that turns the directory tree OLD_DIR into NEW_DIR:\n"
    "files added, removed, and changed (as a binary delta, or whole when that\n"
    "is smaller), with the size and SHA-256 of every old and new file. Apply it\n"
    "with PATCHW32.dll (\"OUT -u\" in the game directory). Swap OLD_DIR and\n"
    "NEW_DIR to build the downgrade file.\n"
    "\n"
    "Options:\n"
    "  --window MB     old files larger than this are matched piecewise (default\n"
    "                  128); mkpatch needs about 12 bytes of memory per window\n"
    "                  byte plus both versions of the largest changed file\n"
    "  --key PRIVATE   sign the patch with this private key; a PATCHW32.dll built\n"
    "                  with its public key applies only patches that key signed\n"
    "  --quiet         no progress line and no summary\n"
    "  --help          this text\n"
    "  --version       the version of this build\n"
    "\n"
    "keygen writes a new ECDSA P-256 key pair: NAME.key, the private key (keep\n"
    "it offline and backed up, never in a repository) and NAME.pub, the public\n"
    "key PATCHW32.dll is built with. Existing files are never replaced.\n"
    "verify checks that PATCH is intact and signed by the key in PUBLIC.\n";

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
    if (s.inflatedDeltas)
        std::printf("                 (%zu of the deltas over inflated deflate streams)\n",
                    s.inflatedDeltas);
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

int Keygen(const char* name) {
    try {
        const patchlib::KeyPair key = patchlib::EcdsaP256::Generate();
        patchlib::KeyFile::WritePair(std::filesystem::u8path(name), key);
        std::printf("%s.key (private) and %s.pub (public): key %s\n", name, name,
                    patchlib::PatchSignature::ShortId(key.publicKey).c_str());
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "mkpatch: %s\n", error.what());
        return 2;
    }
}

int Verify(const char* patch, const char* publicKey) {
    patchlib::PublicKey key;
    try {
        key = patchlib::KeyFile::ReadPublic(std::filesystem::u8path(publicKey));
        patchlib::PatchReader reader;
        reader.Open(std::filesystem::u8path(patch), {key});
    } catch (const patchlib::KeyFileError& error) {
        std::fprintf(stderr, "mkpatch: %s\n", error.what());
        return 2;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "mkpatch: %s: %s\n", patch, error.what());
        return 2;
    }
    std::printf("%s: intact and signed by key %s\n", patch,
                patchlib::PatchSignature::ShortId(key).c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "keygen") == 0) return Keygen(argv[2]);
    if (argc == 4 && std::strcmp(argv[1], "verify") == 0) return Verify(argv[2], argv[3]);
    patchlib::BuildOptions options;
    patchlib::KeyPair key;
    bool quiet = false;
    const char* positional[3] = {};
    int count = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("mkpatch (%s) %s\n", MRL_PRODUCT_NAME, MRL_VERSION_TEXT);
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
        } else if (std::strcmp(argv[i], "--key") == 0 && i + 1 < argc) {
            try {
                key = patchlib::KeyFile::ReadPrivate(std::filesystem::u8path(argv[++i]));
            } catch (const patchlib::KeyFileError& error) {
                std::fprintf(stderr, "mkpatch: %s\n", error.what());
                return 2;
            }
            options.signingKey = &key;
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
        if (!quiet && options.signingKey)
            std::printf("  signed by key %s\n",
                        patchlib::PatchSignature::ShortId(key.publicKey).c_str());
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "\nmkpatch: %s\n", error.what());
        return 2;
    }
}

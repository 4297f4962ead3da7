// Feeds arbitrary patch files to the reader and applier on a scratch tree.
// The header's length and body hash are set to match the input first, so the
// mutations reach the directory, the sections and the delta streams instead
// of stopping at the hash. Whatever happens, a failed application must leave
// the scratch tree exactly as it was, and nothing may appear beside it.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include <unistd.h>

#include "byte_order.h"
#include "patch_applier.h"
#include "patch_format.h"
#include "sha256.h"

namespace {

namespace fs = std::filesystem;
using Snapshot = std::map<std::string, std::string>;

// The old tree the seeds were made against (make_seeds.sh builds the same).
const std::map<std::string, std::string>& OldTree() {
    static const std::map<std::string, std::string> tree = [] {
        std::map<std::string, std::string> files;
        files["a.txt"] = "hello patch\n";
        files["del.txt"] = "delete me\n";
        std::string pattern;
        for (int i = 0; i < 2000; ++i) pattern.push_back(static_cast<char>((i * 7) % 251));
        files["dir/b.bin"] = pattern;
        return files;
    }();
    return tree;
}

void Write(const fs::path& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
}

Snapshot Take(const fs::path& root) {
    Snapshot snapshot;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        std::string key = entry.path().lexically_relative(root).generic_string();
        if (entry.is_directory()) {
            snapshot[key] = "<dir>";
        } else {
            std::ifstream in(entry.path(), std::ios::binary);
            std::ostringstream content;
            content << in.rdbuf();
            snapshot[key] = content.str();
        }
    }
    return snapshot;
}

const fs::path& Scratch() {
    static const fs::path scratch = [] {
        fs::path path = fs::temp_directory_path() / ("fuzz-patch-" + std::to_string(::getpid()));
        fs::create_directories(path);
        return path;
    }();
    return scratch;
}

void ResetTree(const fs::path& tree) {
    std::error_code ec;
    fs::remove_all(tree, ec);
    fs::create_directories(tree / "dir");
    for (const auto& [path, content] : OldTree()) Write(tree / path, content);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using patchlib::PatchFormat;
    std::string bytes(reinterpret_cast<const char*>(data), size);
    if (bytes.size() >= PatchFormat::kHeaderSize) {
        std::string length;
        patchlib::PutLE(length, bytes.size(), 8);
        bytes.replace(16, 8, length);
        patchlib::Digest digest = patchlib::Sha256::Of(bytes.data() + PatchFormat::kHeaderSize,
                                                       bytes.size() - PatchFormat::kHeaderSize);
        bytes.replace(24, 32, reinterpret_cast<const char*>(digest.data()), digest.size());
    }
    const fs::path tree = Scratch() / "tree";
    const fs::path patch = Scratch() / "input.mrl";
    ResetTree(tree);
    Write(patch, bytes);
    Snapshot before = Take(Scratch());
    patchlib::PatchResult result = patchlib::PatchApplier().Apply(patch, tree);
    if (result != patchlib::PatchResult::Ok && Take(Scratch()) != before) std::abort();
    // Whatever the patch said, only the tree and the input may exist here.
    for (const auto& entry : fs::directory_iterator(Scratch()))
        if (entry.path() != tree && entry.path() != patch) std::abort();
    return 0;
}

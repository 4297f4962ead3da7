// Any bytes as a patch (body end and hash made to match, so mutations reach the
// sections) on a scratch tree: a failure leaves it as it was, nothing appears
// beside it. MRL_FUZZ_TREE=DIR fuzz_patch writes the tree to DIR, for seeds.
#include <unistd.h>

#include "apply/patch_applier.h"
#include "patch_kit.h"
#include "crypto/sha256.h"

using namespace patchtest;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (const char* tree = std::getenv("MRL_FUZZ_TREE")) std::exit((WriteFuzzTree(tree), 0));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const auto dir = fs::temp_directory_path() / ("fuzz-patch-" + std::to_string(getpid()));
    std::string bytes(reinterpret_cast<const char*>(data), size);
    if (size >= 56) {
        const patchlib::Digest hash = patchlib::Sha256::Of(bytes.data() + 56, size - 56);
        for (int i = 0; i < 8; ++i) bytes[16 + i] = static_cast<char>(uint64_t{size} >> (8 * i));
        bytes.replace(24, 32, std::string(hash.begin(), hash.end()));
    }
    fs::remove_all(dir);
    WriteFuzzTree(dir / "tree");
    WriteFile(dir / "input", bytes);
    const Snapshot before = TakeSnapshot(dir);
    const auto result = patchlib::PatchApplier().Apply(dir / "input", dir / "tree");
    if (result != patchlib::PatchResult::Ok && TakeSnapshot(dir) != before) std::abort();
    for (const auto& entry : fs::directory_iterator(dir))
        if (entry.path().filename() != "tree" && entry.path().filename() != "input") std::abort();
    return 0;
}

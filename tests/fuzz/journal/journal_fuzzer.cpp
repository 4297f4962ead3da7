// Any bytes as the journal a stopped application left (its record hash made
// to match, so mutations reach the records), and as the lines of the list of
// files waiting to be removed, settled in a scratch tree that holds a link to
// a folder outside it: whatever they say, nothing outside the tree changes. MRL_FUZZ_SEEDS=DIR fuzz_journal writes journals
// as the applier writes them to DIR, for seeds.
#include <unistd.h>

#include "apply/apply_journal.h"
#include "common/byte_order.h"
#include "crypto/sha256.h"
#include "names/patch_path.h"
#include "patch_kit.h"

using namespace patchtest;
using patchlib::ApplyJournal;

namespace {

const size_t kHeaderSize = 48;

// Journals of one application to the fuzz tree: written, committed, cut
// short; and one through a link.
void WriteSeeds(const fs::path& seeds) {
    TempDir dir;
    WriteFuzzTree(dir / "tree");
    using Kind = ApplyJournal::Kind;
    for (const char* name : {"written", "committed"}) {
        ApplyJournal journal(dir / "tree", nullptr);
        journal.Add(Kind::MadeDir, "new");
        journal.Add(Kind::Replaced, "a.txt");
        journal.Add(Kind::Replaced, "dir/b.bin");
        journal.Add(Kind::Added, "new/c.txt");
        journal.Add(Kind::Deleted, "del.txt");
        journal.Add(Kind::DoomedDir, "dir");
        journal.Write();
        if (name == std::string("committed")) journal.Commit();
        fs::create_directories(seeds);
        fs::rename(dir / "tree" / patchlib::kJournalName, seeds / name);
    }
    const std::string committed = ReadFile(seeds / "committed");
    WriteFile(seeds / "cut", committed.substr(0, committed.size() - 20));
    // Not one an application writes: a record through the link, to be refused.
    ApplyJournal hostile(dir / "tree", nullptr);
    hostile.Add(Kind::Added, "link/x");
    hostile.Write();
    fs::rename(dir / "tree" / patchlib::kJournalName, seeds / "through-link");
    WriteFile(seeds / "waiting-list", "a.txt\nlink/x\n../x\nlink/\ndir/\n");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (const char* seeds = std::getenv("MRL_FUZZ_SEEDS")) std::exit((WriteSeeds(seeds), 0));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // In memory where there is such a file system: settling syncs every directory it touches.
    static const fs::path base =
        fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
    static const TempDir scratch(base / ("fuzz-journal-" + std::to_string(getpid())));
    const fs::path& dir = scratch.path;
    std::string bytes(reinterpret_cast<const char*>(data), size);
    if (size >= kHeaderSize) {
        const auto* raw = reinterpret_cast<const unsigned char*>(bytes.data());
        uint64_t records = patchlib::GetLE(raw + 8, 8);
        if (records > size - kHeaderSize) records = size - kHeaderSize;
        std::string length;
        patchlib::PutLE(length, records, 8);
        const patchlib::Digest hash =
            patchlib::Sha256::Of(bytes.data() + kHeaderSize, static_cast<size_t>(records));
        bytes.replace(8, 8, length);
        bytes.replace(16, 32, std::string(hash.begin(), hash.end()));
    }
    fs::remove_all(dir);
    WriteFuzzTree(dir / "tree");
    WriteFile(dir / "outside/x", "theirs");
    fs::create_directory_symlink("../outside", dir / "tree/link");
    WriteFile(dir / "outside/x.mrlpatch-gone", "theirs");
    WriteFile(dir / "tree" / patchlib::kJournalName, bytes);
    WriteFile(dir / "tree" / patchlib::kGoneListName, "MRLGONE1\n" + bytes);
    const Snapshot outside = TakeSnapshot(dir / "outside");
    std::string message;
    ApplyJournal::Recover(dir / "tree", nullptr, message);
    if (TakeSnapshot(dir / "outside") != outside) std::abort();
    for (const auto& entry : fs::directory_iterator(dir))
        if (entry.path().filename() != "tree" && entry.path().filename() != "outside") std::abort();
    return 0;
}

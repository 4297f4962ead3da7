#include "delta_applier.h"

#include <algorithm>
#include <vector>

#include "byte_order.h"
#include "patch_error.h"
#include "sparse_diff.h"

namespace patchlib {

namespace {

constexpr size_t kChunk = 64 * 1024;
constexpr size_t kBlock = 16 * 1024;
constexpr size_t kBlocks = 64;

// Random-access reads of the old file through a few aligned blocks kept by
// least recent use: most copies continue where the previous one ended, and
// moved content makes the reads jump between a handful of places.
class OldFileCache {
public:
    OldFileCache(BinaryFile& file, uint64_t size) : file_(file), size_(size) {
        for (Block& block : blocks_) block.data.resize(kBlock);
    }

    void Read(uint64_t pos, unsigned char* out, size_t size) {
        while (size > 0) {
            const Block& block = Find(pos / kBlock);
            size_t offset = static_cast<size_t>(pos % kBlock);
            size_t take = std::min(size, block.filled - offset);
            std::copy(block.data.data() + offset, block.data.data() + offset + take, out);
            pos += take;
            out += take;
            size -= take;
        }
    }

private:
    struct Block {
        uint64_t index = UINT64_MAX;
        uint64_t lastUse = 0;
        size_t filled = 0;
        std::vector<unsigned char> data;
    };

    const Block& Find(uint64_t index) {
        ++clock_;
        Block* victim = &blocks_[0];
        for (Block& block : blocks_) {
            if (block.index == index) {
                block.lastUse = clock_;
                return block;
            }
            if (block.lastUse < victim->lastUse) victim = &block;
        }
        uint64_t start = index * kBlock;
        size_t want = static_cast<size_t>(std::min<uint64_t>(kBlock, size_ - start));
        if (!file_.Seek(start) || !file_.ReadExact(victim->data.data(), want))
            throw PatchError(PatchResult::TreeMismatch, "cannot read an old file");
        victim->index = index;
        victim->filled = want;
        victim->lastUse = clock_;
        return *victim;
    }

    BinaryFile& file_;
    uint64_t size_;
    Block blocks_[kBlocks];
    uint64_t clock_ = 0;
};

[[noreturn]] void Corrupt(const char* what) { throw PatchError(PatchResult::CorruptPatch, what); }

}  // namespace

void DeltaApplier::Apply(BinaryFile& oldFile, uint64_t oldSize, ZlibReader& control,
                         ZlibReader& diffRuns, ZlibReader& diffLiterals, ZlibReader& extra,
                         uint64_t newSize, const Sink& out) {
    OldFileCache old(oldFile, oldSize);
    std::vector<unsigned char> bufferOld(kChunk);
    SparseDiffReader sparseDiff(diffRuns, diffLiterals);
    uint64_t oldPos = 0, produced = 0;

    while (control.remaining() > 0) {
        int64_t seek = ZigZagDecode(control.ReadVarint());
        uint64_t copyLen = control.ReadVarint();
        uint64_t extraLen = control.ReadVarint();
        if (copyLen > newSize - produced || extraLen > newSize - produced - copyLen)
            Corrupt("a delta produces more than the new file's size");
        if (copyLen > 0) {
            if ((seek < 0 && static_cast<uint64_t>(-(seek + 1)) >= oldPos) ||
                (seek > 0 && static_cast<uint64_t>(seek) > oldSize - oldPos))
                Corrupt("a delta seeks outside the old file");
            oldPos += static_cast<uint64_t>(seek);
            if (copyLen > oldSize - oldPos) Corrupt("a delta copies past the end of the old file");
        }
        for (uint64_t done = 0; done < copyLen;) {
            size_t n = static_cast<size_t>(std::min<uint64_t>(kChunk, copyLen - done));
            old.Read(oldPos + done, bufferOld.data(), n);
            sparseDiff.AddTo(bufferOld.data(), n);
            out(bufferOld.data(), n);
            done += n;
        }
        oldPos += copyLen;
        for (uint64_t done = 0; done < extraLen;) {
            size_t n = static_cast<size_t>(std::min<uint64_t>(kChunk, extraLen - done));
            extra.ReadExact(bufferOld.data(), n);
            out(bufferOld.data(), n);
            done += n;
        }
        produced += copyLen + extraLen;
    }
    if (produced != newSize) Corrupt("a delta produces less than the new file's size");
    control.ExpectEnd();
    sparseDiff.ExpectEnd();
    extra.ExpectEnd();
}

}  // namespace patchlib

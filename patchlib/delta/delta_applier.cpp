#include "delta/delta_applier.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "common/byte_order.h"
#include "delta/code_layout.h"
#include "field_walker.h"
#include "common/patch_error.h"
#include "sparse_diff.h"
#include "target_map.h"

namespace patchlib {

namespace {

constexpr size_t kChunk = 32 * 1024;
constexpr size_t kBlock = 16 * 1024;
constexpr size_t kBlocks = 16;

// Random-access reads of the old file through a few aligned blocks kept by
// least recent use: most copies continue where the previous one ended, and
// moved content makes the reads jump between a handful of places. Long reads
// go straight to the file.
class OldFileCache {
public:
    OldFileCache(BinaryFile& file, uint64_t size) : file_(file), size_(size) {}

    void Read(uint64_t pos, unsigned char* out, size_t size) {
        if (size >= kBlock) {
            if (!file_.Seek(pos) || !file_.ReadExact(out, size))
                throw PatchError(PatchResult::TreeMismatch, "cannot read an old file");
            return;
        }
        while (size > 0) {
            const Block& block = Find(pos / kBlock);
            size_t offset = static_cast<size_t>(pos % kBlock);
            size_t take = std::min(size, block.filled - offset);
            std::copy(block.data.get() + offset, block.data.get() + offset + take, out);
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
        Buffer data;  // allocated on first use
    };

    const Block& Find(uint64_t index) {
        ++clock_;
        if (last_->index == index) {
            last_->lastUse = clock_;
            return *last_;
        }
        Block* victim = &blocks_[0];
        for (Block& block : blocks_) {
            if (block.index == index) {
                block.lastUse = clock_;
                last_ = &block;
                return block;
            }
            if (block.lastUse < victim->lastUse) victim = &block;
        }
        uint64_t start = index * kBlock;
        size_t want = static_cast<size_t>(std::min<uint64_t>(kBlock, size_ - start));
        if (!victim->data) victim->data = NewBuffer(kBlock);
        if (!file_.Seek(start) || !file_.ReadExact(victim->data.get(), want))
            throw PatchError(PatchResult::TreeMismatch, "cannot read an old file");
        victim->index = index;
        victim->filled = want;
        victim->lastUse = clock_;
        last_ = victim;
        return *victim;
    }

    BinaryFile& file_;
    uint64_t size_;
    Block blocks_[kBlocks];
    Block* last_ = &blocks_[0];
    uint64_t clock_ = 0;
};

[[noreturn]] void Corrupt(const char* what) { throw PatchError(PatchResult::CorruptPatch, what); }

constexpr uint64_t kMaxLayoutSize = 16 * 1024;

struct Layouts {
    CodeLayout old, nw;
};

Layouts ReadLayouts(ZlibReader& reader, uint64_t oldSize, uint64_t newSize) {
    if (reader.remaining() > kMaxLayoutSize) Corrupt("a delta's layout is too large");
    std::vector<unsigned char> bytes(static_cast<size_t>(reader.remaining()));
    reader.ReadExact(bytes.data(), bytes.size());
    reader.ExpectEnd();
    const unsigned char* in = bytes.data();
    const unsigned char* end = in + bytes.size();
    Layouts layouts;
    layouts.old = CodeLayout::Decode(in, end, oldSize);
    layouts.nw = CodeLayout::Decode(in, end, newSize);
    if (in != end || layouts.old.empty() != layouts.nw.empty() ||
        layouts.old.is64() != layouts.nw.is64())
        Corrupt("a delta's layout is malformed");
    return layouts;
}

// One step of the control section.
struct Step {
    uint64_t oldPos = 0, copy = 0, extra = 0;
    bool plain = false;  // the literal bytes are in the plain extra section
};

// Reads the steps and keeps their bounds: copies inside the old file, output
// within the new size.
class ControlReader {
public:
    ControlReader(ZlibReader& control, uint64_t oldSize, uint64_t newSize, uint32_t version)
        : control_(control), oldSize_(oldSize), newSize_(newSize), version_(version) {}

    bool Next(Step& step) {
        if (control_.remaining() == 0) return false;
        const int64_t seek = ZigZagDecode(control_.ReadVarint());
        step.copy = control_.ReadVarint();
        step.extra = control_.ReadVarint();
        if (version_ > 1) {
            step.plain = step.extra & 1;
            step.extra >>= 1;
        }
        if (step.copy > newSize_ - produced_ || step.extra > newSize_ - produced_ - step.copy)
            Corrupt("a delta produces more than the new file's size");
        if (step.copy > 0) {
            // Version 1 seeks from the end of the last copy, version 2 from
            // where the last copy's displacement leads (modulo 2^64).
            step.oldPos = (version_ == 1 ? oldPos_ : expected_) + static_cast<uint64_t>(seek);
            if ((version_ == 1 && seek < 0 && static_cast<uint64_t>(-(seek + 1)) >= oldPos_) ||
                step.oldPos > oldSize_ || step.copy > oldSize_ - step.oldPos)
                Corrupt("a delta copies from outside the old file");
            oldPos_ = expected_ = step.oldPos + step.copy;
        }
        expected_ += step.extra;
        produced_ += step.copy + step.extra;
        return true;
    }
    uint64_t produced() const { return produced_; }

private:
    ZlibReader& control_;
    uint64_t oldSize_, newSize_;
    uint32_t version_;
    uint64_t oldPos_ = 0, expected_ = 0, produced_ = 0;
};

// The new file's bytes pass through a window where the field walker sees
// them before they go out (a field may need bytes of the next chunk); they go
// out in large writes.
class Output {
public:
    Output(const CodeLayout& layout, uint64_t newSize, const DeltaApplier::Sink& out)
        : walker_(layout, newSize),
          out_(out),
          bytes_(NewBuffer(kWindow)),
          old_(NewBuffer(kWindow)) {
        found_.reserve(kWindow / 16);
    }

    FieldWalker& walker() { return walker_; }
    unsigned char* bytes() { return bytes_.get(); }
    const unsigned char* old() { return old_.get(); }
    // Flushed before it holds too many bytes, or too many small runs.
    bool Full() const { return kWindow - filled_ < kChunk || walker_.pendingRuns() > kMaxRuns; }
    // Room for up to `wanted` bytes at *at, their old bytes at *old; returns
    // how many.
    size_t Append(uint64_t wanted, unsigned char** at, unsigned char** old) {
        size_t size = static_cast<size_t>(std::min<uint64_t>(wanted, kWindow - filled_));
        *at = bytes_.get() + filled_;
        *old = old_.get() + filled_;
        filled_ += size;
        return size;
    }
    // Decodes the fields whose bytes are all in the window and writes out
    // what is final.
    template <typename Decode>
    void Flush(Decode& decode) {
        found_.clear();
        const uint64_t final =
            walker_.Walk(bytes_.get(), old_.get(), start_, start_ + filled_, found_);
        for (const FoundField& field : found_) decode(field);
        const size_t done = static_cast<size_t>(final - start_);
        out_(bytes_.get(), done);
        std::copy(bytes_.get() + done, bytes_.get() + filled_, bytes_.get());
        std::copy(old_.get() + done, old_.get() + filled_, old_.get());
        start_ = final;
        filled_ -= done;
    }

private:
    static constexpr size_t kWindow = 2 * kChunk;
    static constexpr size_t kMaxRuns = 4096;
    FieldWalker walker_;
    const DeltaApplier::Sink& out_;
    Buffer bytes_, old_;
    std::vector<FoundField> found_;
    uint64_t start_ = 0;
    size_t filled_ = 0;
};

}  // namespace

void DeltaApplier::Apply(BinaryFile& oldFile, uint64_t oldSize, uint64_t newSize, uint32_t version,
                         const Opener& open, const Sink& out) {
    const bool v1 = version == 1;
    Layouts layouts;
    ZlibReader control, diffRuns, diffLiterals, extra, plainExtra, outcomes, values;
    if (!v1) {
        open(kLayout, control);
        layouts = ReadLayouts(control, oldSize, newSize);
    }
    // The applier needs the moves of the whole file before the first field.
    TargetMap map(layouts.old, layouts.nw);
    if (!layouts.nw.empty()) {
        open(kControl, control);
        ControlReader steps(control, oldSize, newSize, version);
        Step step;
        for (uint64_t newPos = 0; steps.Next(step); newPos = steps.produced())
            map.AddCopy(step.oldPos, newPos, step.copy);
        map.Seal();
    }
    open(kControl, control);
    open(kDiffRuns, diffRuns);
    open(kDiffLiterals, diffLiterals);
    open(kExtra, extra);
    if (!v1) {
        open(kPlainExtra, plainExtra);
        open(kFieldOutcomes, outcomes);
        open(kFieldValues, values);
    }

    OldFileCache cache(oldFile, oldSize);
    SparseDiffReader sparseDiff(diffRuns, diffLiterals);
    Output output(layouts.nw, newSize, out);
    auto decode = [&](const FoundField& field) {
        const int width = FieldWidth(field.kind);
        unsigned char* bytes = output.bytes() + field.index;
        if (!field.copy) {
            // Literal bytes hold relative targets in absolute form.
            if (field.kind == FieldKind::Rel32)
                PutLE(bytes, GetLE(bytes, 4) - (field.position + 4), 4);
            return;
        }
        const unsigned char* was = output.old() + field.index;
        const unsigned char code = outcomes.ReadByte();
        if (code >> 2 != static_cast<int>(field.kind) || (code & 3) == 3)
            Corrupt("a delta's field outcome does not fit its field");
        uint64_t value = width == 8 ? GetLE(was, 8) : GetLE(was, 4);
        if ((code & 3) != 1) value = map.Predict(field, value);
        if ((code & 3) == 2) {
            unsigned char given[8];
            values.ReadExact(given, static_cast<size_t>(width));
            value += GetLE(given, width);
        }
        // The diff is added to the field's value instead of the old bytes.
        for (int i = 0; i < width; ++i)
            bytes[i] = static_cast<unsigned char>(bytes[i] - was[i] + (value >> (8 * i)));
    };

    ControlReader steps(control, oldSize, newSize, version);
    Step step;
    for (uint64_t newPos = 0; steps.Next(step); newPos = steps.produced()) {
        if (step.copy > 0) output.walker().AddRun({newPos, newPos + step.copy, true, step.oldPos});
        if (step.extra > 0)
            output.walker().AddRun({newPos + step.copy, newPos + step.copy + step.extra, false, 0});
        unsigned char *at = nullptr, *old = nullptr;
        for (uint64_t done = 0; done < step.copy;) {
            if (output.Full()) output.Flush(decode);
            const size_t n = output.Append(step.copy - done, &at, &old);
            cache.Read(step.oldPos + done, old, n);
            std::copy(old, old + n, at);
            sparseDiff.AddTo(at, n);
            done += n;
        }
        ZlibReader& literals = step.plain ? plainExtra : extra;
        for (uint64_t done = 0; done < step.extra;) {
            if (output.Full()) output.Flush(decode);
            const size_t n = output.Append(step.extra - done, &at, &old);
            literals.ReadExact(at, n);
            done += n;
        }
    }
    output.Flush(decode);
    if (steps.produced() != newSize) Corrupt("a delta produces less than the new file's size");
    control.ExpectEnd();
    sparseDiff.ExpectEnd();
    extra.ExpectEnd();
    if (!v1) {
        plainExtra.ExpectEnd();
        outcomes.ExpectEnd();
        values.ExpectEnd();
    }
}

}  // namespace patchlib

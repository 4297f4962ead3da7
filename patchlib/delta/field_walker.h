// Finds the address fields of a program file as its bytes arrive, front to
// back, so that builder and applier find exactly the same ones:
//   - in code: the 32-bit operand of a near call or jump (E8, E9, 0F 80-8F)
//     and the displacement of a memory operand without base register (ModRM
//     mod 00 r/m 101: relative to the next instruction on x86-64, an
//     absolute address on x86). The scan is greedy and byte-wise, resumes
//     after each field, and looks only at bytes before the field, so it needs
//     no disassembly and works on any bytes;
//   - outside code: every aligned pointer-sized word that a copy takes from
//     an old word whose value points into the old image.
// Runs say which stretches of the new file are copies of old bytes and which
// are literal; a field is reported only when it lies inside one run.
// No decision reads the bytes of a field, found or still to be found: the
// opcode tables keep every byte a pattern tests out of the fields that could
// start inside it. So the applier may walk bytes whose fields it has not
// decoded yet, and decode them afterwards.
#pragma once

#include <cstdint>
#include <deque>
#include <vector>

#include "delta/code_layout.h"

namespace patchlib {

enum class FieldKind : uint8_t { Rel32 = 1, Abs32 = 2, Abs64 = 3 };

inline int FieldWidth(FieldKind kind) { return kind == FieldKind::Abs64 ? 8 : 4; }

// One stretch [begin, end) of the new file: copied from old position
// oldBegin onwards (plus a diff), or literal.
struct DeltaRun {
    uint64_t begin = 0, end = 0;
    bool copy = false;
    uint64_t oldBegin = 0;
};

struct FoundField {
    uint64_t position;
    uint64_t oldPosition;       // copies: where the field's bytes come from
    uint64_t runBegin, runEnd;  // the run holding it
    size_t index;               // of its first byte in the walked window
    FieldKind kind;
    bool copy;  // inside a copy; otherwise inside a literal run
};

class FieldWalker {
public:
    // layout: the new file's, newSize its size. An empty layout finds nothing.
    FieldWalker(const CodeLayout& layout, uint64_t newSize) : layout_(layout), size_(newSize) {}

    // Runs are added in order, each before any of its bytes is walked.
    void AddRun(const DeltaRun& run) { runs_.push_back(run); }
    size_t pendingRuns() const { return runs_.size(); }

    // window holds the new file's bytes [start, end), final
    // except inside fields; old holds, at the same index, the old bytes of copied stretches.
    // Appends the fields found to `found` and returns the position up to which
    // the walk is done (up to 7 bytes short of end, until the end of the file:
    // a field may begin there).
    uint64_t Walk(const unsigned char* window, const unsigned char* old, uint64_t start,
                  uint64_t end, std::vector<FoundField>& found);

private:
    const CodeLayout& layout_;
    uint64_t size_;
    std::deque<DeltaRun> runs_;
    uint64_t next_ = 0;  // first position not yet decided
    size_t region_ = 0;  // first code range not wholly before next_
    std::vector<FoundField>* found_ = nullptr;
    // The run holding a position (positions only grow), or null.
    const DeltaRun* RunAt(uint64_t position) {
        while (!runs_.empty() && runs_.front().end <= position) runs_.pop_front();
        return runs_.empty() || runs_.front().begin > position ? nullptr : &runs_.front();
    }
    void Report(uint64_t position, FieldKind kind, uint64_t start) {
        const DeltaRun* run = RunAt(position);
        if (!run || position + FieldWidth(kind) > run->end) return;  // across runs: plain bytes
        Add(position, kind, start, *run);
    }
    // Written member by member in place: building the record elsewhere and
    // copying it stalls on the store of its small members.
    void Add(uint64_t position, FieldKind kind, uint64_t start, const DeltaRun& run) {
        FoundField& field = found_->emplace_back();
        field.position = position;
        field.oldPosition = run.oldBegin + (position - run.begin);
        field.runBegin = run.begin;
        field.runEnd = run.end;
        field.index = static_cast<size_t>(position - start);
        field.kind = kind;
        field.copy = run.copy;
    }
    void WalkCode(const unsigned char* window, uint64_t start, uint64_t limit);
    void WalkData(const unsigned char* old, uint64_t start, uint64_t end, uint64_t areaEnd);
};

}  // namespace patchlib

// The diff stream of a delta is mostly zeros (copied bytes that did not
// change). It is stored as two sections: runs (per run, LEB128 count of zeros
// then LEB128 count of literal bytes) and literals (the literal bytes, in
// order; a lone zero between two changed bytes stays a literal). Deflate
// alone spends bits on every stretch of zeros and mixes two kinds of data in
// one model; split, each compresses well, and the applier passes unchanged old
// bytes straight through.
#pragma once

#include <cstddef>
#include <cstdint>

#include "zlib/zlib_reader.h"
#include "zlib/zlib_writer.h"

namespace patchlib {

class SparseDiffWriter {
public:
    SparseDiffWriter(ZlibWriter& runs, ZlibWriter& literals) : runs_(runs), literals_(literals) {}
    void Write(const unsigned char* diff, size_t size);
    void Finish();

private:
    // Zero runs shorter than this stay inside the literals.
    static constexpr uint64_t kMinZeroRun = 2;
    void EmitRun();
    ZlibWriter& runs_;
    ZlibWriter& literals_;
    uint64_t zeros_ = 0;         // zeros before the current literals
    uint64_t literalCount_ = 0;  // literal bytes written for the current run
    uint64_t tailZeros_ = 0;     // zeros after the literals, not yet placed
};

class SparseDiffReader {
public:
    SparseDiffReader(ZlibReader& runs, ZlibReader& literals) : runs_(runs), literals_(literals) {}
    // Adds the next size diff bytes to data in place.
    void AddTo(unsigned char* data, size_t size);
    // Throws CorruptPatch unless every run was used up exactly.
    void ExpectEnd();

private:
    ZlibReader& runs_;
    ZlibReader& literals_;
    uint64_t zerosLeft_ = 0;
    uint64_t literalsLeft_ = 0;
    unsigned char buffer_[16 * 1024];
};

}  // namespace patchlib

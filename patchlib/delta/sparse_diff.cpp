#include "sparse_diff.h"

#include <algorithm>
#include <string>

#include "common/byte_order.h"
#include "common/patch_error.h"

namespace patchlib {

void SparseDiffWriter::EmitRun() {
    std::string head;
    PutVarint(head, zeros_);
    PutVarint(head, literalCount_);
    runs_.Write(head.data(), head.size());
    zeros_ = 0;
    literalCount_ = 0;
}

void SparseDiffWriter::Write(const unsigned char* diff, size_t size) {
    static const unsigned char kZeros[kMinZeroRun] = {};
    for (size_t i = 0; i < size; ++i) {
        if (diff[i] == 0) {
            if (literalCount_ == 0)
                ++zeros_;
            else
                ++tailZeros_;
            continue;
        }
        if (literalCount_ > 0 && tailZeros_ >= kMinZeroRun) {
            EmitRun();
            zeros_ = tailZeros_;
        } else if (tailZeros_ > 0) {
            literals_.Write(kZeros, static_cast<size_t>(tailZeros_));
            literalCount_ += tailZeros_;
        }
        tailZeros_ = 0;
        literals_.Write(&diff[i], 1);
        ++literalCount_;
    }
}

void SparseDiffWriter::Finish() {
    if (literalCount_ > 0) {
        EmitRun();
        zeros_ = tailZeros_;
        tailZeros_ = 0;
    }
    if (zeros_ > 0) EmitRun();
}

void SparseDiffReader::AddTo(unsigned char* data, size_t size) {
    while (size > 0) {
        if (zerosLeft_ == 0 && literalsLeft_ == 0) {
            zerosLeft_ = runs_.ReadVarint();
            literalsLeft_ = runs_.ReadVarint();
            if (zerosLeft_ == 0 && literalsLeft_ == 0)
                throw PatchError(PatchResult::CorruptPatch, "an empty diff run");
        }
        if (zerosLeft_ > 0) {
            size_t skip = static_cast<size_t>(std::min<uint64_t>(zerosLeft_, size));
            zerosLeft_ -= skip;
            data += skip;
            size -= skip;
            continue;
        }
        size_t take =
            static_cast<size_t>(std::min<uint64_t>({literalsLeft_, size, sizeof(buffer_)}));
        literals_.ReadExact(buffer_, take);
        for (size_t i = 0; i < take; ++i)
            data[i] = static_cast<unsigned char>(data[i] + buffer_[i]);
        literalsLeft_ -= take;
        data += take;
        size -= take;
    }
}

void SparseDiffReader::ExpectEnd() {
    if (zerosLeft_ != 0 || literalsLeft_ != 0)
        throw PatchError(PatchResult::CorruptPatch,
                         "a delta's diff stream is longer than its copies");
    runs_.ExpectEnd();
    literals_.ExpectEnd();
}

}  // namespace patchlib

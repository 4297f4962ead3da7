// Inflates one compressed section of a patch file with a fixed-size buffer,
// whatever the section's size. The section's compressed and raw lengths come
// from the patch directory and are enforced exactly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "common/sealed_file.h"

namespace patchlib {

class ZlibReader {
public:
    ZlibReader();
    ~ZlibReader();
    ZlibReader(const ZlibReader&) = delete;
    ZlibReader& operator=(const ZlibReader&) = delete;

    // Reads the section through the patch's one handle (which must outlive the
    // reader); a failed read throws PatchError.
    void Open(const SealedFile& file, uint64_t offset, uint64_t compressedSize, uint64_t rawSize);
    // Reads the section from memory (which must outlive the reader).
    void OpenBytes(const unsigned char* data, size_t compressedSize, uint64_t rawSize);
    // Fills the whole buffer or throws CorruptPatch (the section is too short).
    void ReadExact(void* buffer, size_t size);
    unsigned char ReadByte() {
        if (pos_ == avail_) Refill();
        return out_[pos_++];
    }
    // Reads one byte-wise LEB128 number.
    uint64_t ReadVarint();
    uint64_t remaining() const { return rawSize_ - produced_ + (avail_ - pos_); }
    // Checks that the section ended exactly where the directory said.
    void ExpectEnd();

private:
    struct State;
    std::unique_ptr<State> state_;
    const SealedFile* file_ = nullptr;
    const unsigned char* bytes_ = nullptr;  // the section in memory, or null
    uint64_t next_ = 0;                     // where the next input starts (file or memory)
    uint64_t inputLeft_ = 0;
    uint64_t rawSize_ = 0;
    uint64_t produced_ = 0;
    bool streamEnded_ = false;
    const unsigned char* out_ = nullptr;  // the output buffer
    size_t pos_ = 0;                      // next unread byte in it
    size_t avail_ = 0;                    // bytes in the output buffer
    void Start(uint64_t compressedSize, uint64_t rawSize);
    void Refill();
    void FeedInput();
};

}  // namespace patchlib

#include "zlib/zlib_reader.h"

#include <zlib.h>

#include <cstring>

#include "common/patch_error.h"

namespace patchlib {

// Small enough to stay on the heap: a patch opens several at once, and
// larger blocks would each be mapped fresh from the system.
struct ZlibReader::State {
    z_stream stream{};
    bool initialised = false;
    unsigned char in[32 * 1024];
    unsigned char out[32 * 1024];
};

ZlibReader::ZlibReader() : state_(new State), out_(state_->out) {}

ZlibReader::~ZlibReader() {
    if (state_->initialised) inflateEnd(&state_->stream);
}

void ZlibReader::Open(const SealedFile& file, uint64_t offset, uint64_t compressedSize,
                      uint64_t rawSize) {
    if (!file.IsOpen())
        throw PatchError(PatchResult::CannotReadPatch, "cannot read the patch file");
    Start(compressedSize, rawSize);
    file_ = &file;
    bytes_ = nullptr;
    next_ = offset;
}

void ZlibReader::OpenBytes(const unsigned char* data, size_t compressedSize, uint64_t rawSize) {
    Start(compressedSize, rawSize);
    file_ = nullptr;
    bytes_ = data;
    next_ = 0;
}

void ZlibReader::Start(uint64_t compressedSize, uint64_t rawSize) {
    if (state_->initialised) inflateEnd(&state_->stream);
    state_->stream = z_stream{};
    if (inflateInit2(&state_->stream, -15) != Z_OK)
        throw PatchError(PatchResult::Internal, "cannot start zlib decompression");
    state_->initialised = true;
    inputLeft_ = compressedSize;
    rawSize_ = rawSize;
    produced_ = 0;
    streamEnded_ = false;
    pos_ = avail_ = 0;
}

// Gives inflate the next piece of the section once it has used the last.
void ZlibReader::FeedInput() {
    z_stream& stream = state_->stream;
    if (stream.avail_in != 0 || inputLeft_ == 0) return;
    size_t want =
        inputLeft_ < sizeof(state_->in) ? static_cast<size_t>(inputLeft_) : sizeof(state_->in);
    const unsigned char* input = state_->in;
    if (bytes_)
        input = bytes_ + next_;
    else if (!file_->ReadExactAt(next_, state_->in, want))
        throw PatchError(PatchResult::CorruptPatch, "the patch file is truncated");
    next_ += want;
    inputLeft_ -= want;
    stream.next_in = const_cast<unsigned char*>(input);
    stream.avail_in = static_cast<uInt>(want);
}

void ZlibReader::Refill() {
    z_stream& stream = state_->stream;
    if (streamEnded_) throw PatchError(PatchResult::CorruptPatch, "a patch section is too short");
    stream.next_out = state_->out;
    stream.avail_out = sizeof(state_->out);
    while (stream.avail_out == sizeof(state_->out)) {
        FeedInput();
        int rc = inflate(&stream, Z_NO_FLUSH);
        if (rc == Z_STREAM_END) {
            streamEnded_ = true;
            break;
        }
        if (rc != Z_OK ||
            (stream.avail_in == 0 && inputLeft_ == 0 && stream.avail_out == sizeof(state_->out)))
            throw PatchError(PatchResult::CorruptPatch, "a patch section does not decompress");
    }
    avail_ = sizeof(state_->out) - stream.avail_out;
    pos_ = 0;
    produced_ += avail_;
    if (produced_ > rawSize_)
        throw PatchError(PatchResult::CorruptPatch, "a patch section is too long");
    if (avail_ == 0) throw PatchError(PatchResult::CorruptPatch, "a patch section is too short");
}

void ZlibReader::ReadExact(void* buffer, size_t size) {
    auto out = static_cast<unsigned char*>(buffer);
    while (size > 0) {
        if (pos_ == avail_) Refill();
        size_t take = avail_ - pos_ < size ? avail_ - pos_ : size;
        std::memcpy(out, state_->out + pos_, take);
        pos_ += take;
        out += take;
        size -= take;
    }
}

uint64_t ZlibReader::ReadVarint() {
    uint64_t value = 0;
    for (int shift = 0; shift < 64; shift += 7) {
        unsigned char byte = ReadByte();
        value |= static_cast<uint64_t>(byte & 0x7F) << shift;
        if (!(byte & 0x80)) {
            if (shift == 63 && byte > 1) break;
            return value;
        }
    }
    throw PatchError(PatchResult::CorruptPatch, "a number in the patch is too long");
}

void ZlibReader::ExpectEnd() {
    if (pos_ != avail_ || produced_ != rawSize_)
        throw PatchError(PatchResult::CorruptPatch, "a patch section has trailing data");
    if (!streamEnded_) {
        // The raw bytes are all out; the stream must end here with nothing more.
        unsigned char extra = 0;
        z_stream& stream = state_->stream;
        for (;;) {
            FeedInput();
            stream.next_out = &extra;
            stream.avail_out = 1;
            int rc = inflate(&stream, Z_NO_FLUSH);
            if (rc == Z_STREAM_END && stream.avail_out == 1) break;
            if (rc != Z_OK || stream.avail_out == 0 || (stream.avail_in == 0 && inputLeft_ == 0))
                throw PatchError(PatchResult::CorruptPatch, "a patch section has trailing data");
        }
        streamEnded_ = true;
    }
    if (state_->stream.avail_in != 0 || inputLeft_ != 0)
        throw PatchError(PatchResult::CorruptPatch, "a patch section has trailing bytes");
}

}  // namespace patchlib

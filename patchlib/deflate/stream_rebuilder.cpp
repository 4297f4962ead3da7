#include "deflate/stream_rebuilder.h"

#include <zlib.h>

#include <algorithm>

#include "common/patch_error.h"

namespace patchlib {

namespace {

[[noreturn]] void Wrong() {
    throw PatchError(PatchResult::CorruptPatch, "a deflate stream rebuilds to another size");
}

}  // namespace

struct StreamRebuilder::State {
    z_stream stream{};
    bool initialised = false;
    unsigned char out[32 * 1024];
};

StreamRebuilder::StreamRebuilder(Source records, Sink out)
    : state_(new State), records_(std::move(records)), out_(std::move(out)) {
    NextRecord();
    Settle();
}

StreamRebuilder::~StreamRebuilder() {
    if (state_->initialised) deflateEnd(&state_->stream);
}

void StreamRebuilder::NextRecord() {
    inRecord_ = !exhausted_ && records_(record_);
    exhausted_ = !inRecord_;
    inStream_ = false;
}

// Opens the stream once its gap is done, and closes those with nothing (more) to deflate.
void StreamRebuilder::Settle() {
    while (inRecord_) {
        if (!inStream_ && record_.gap == 0) StartStream();
        if (!inStream_ || record_.rawSize != 0) return;
        EndStream();
    }
}

void StreamRebuilder::StartStream() {
    State& state = *state_;
    if (state.initialised) deflateEnd(&state.stream);
    state.stream = z_stream{};
    state.initialised = false;
    const DeflateParams& p = record_.params;
    if (deflateInit2(&state.stream, p.level, Z_DEFLATED, -p.windowBits, p.memLevel, p.strategy) !=
        Z_OK)
        throw PatchError(PatchResult::CorruptPatch, "zlib refuses a deflate stream's parameters");
    state.initialised = true;
    compressedLeft_ = record_.compressedSize;
    inStream_ = true;
}

void StreamRebuilder::Deflate(const unsigned char* data, size_t size, int flush) {
    z_stream& stream = state_->stream;
    stream.next_in = const_cast<Bytef*>(data);
    stream.avail_in = static_cast<uInt>(size);
    for (;;) {
        stream.next_out = state_->out;
        stream.avail_out = sizeof(state_->out);
        const int rc = deflate(&stream, flush);
        if (rc == Z_STREAM_ERROR)
            throw PatchError(PatchResult::Internal, "zlib compression failed");
        const size_t produced = sizeof(state_->out) - stream.avail_out;
        if (produced > compressedLeft_) Wrong();
        compressedLeft_ -= produced;
        if (produced) out_(state_->out, produced);
        if (flush == Z_FINISH ? rc == Z_STREAM_END
                              : (stream.avail_in == 0 && stream.avail_out != 0))
            return;
    }
}

void StreamRebuilder::EndStream() {
    Deflate(nullptr, 0, Z_FINISH);
    if (compressedLeft_ != 0) Wrong();
    NextRecord();
}

void StreamRebuilder::Write(const void* data, size_t size) {
    auto bytes = static_cast<const unsigned char*>(data);
    while (size > 0) {
        if (!inRecord_) {
            out_(bytes, size);
            return;
        }
        size_t take;
        if (!inStream_) {
            take = static_cast<size_t>(std::min<uint64_t>(record_.gap, size));
            out_(bytes, take);
            record_.gap -= take;
        } else {
            take = static_cast<size_t>(std::min<uint64_t>({record_.rawSize, size, 1u << 30}));
            Deflate(bytes, take, Z_NO_FLUSH);
            record_.rawSize -= take;
        }
        bytes += take;
        size -= take;
        Settle();
    }
}

void StreamRebuilder::Finish() {
    if (inRecord_) Wrong();
}

}  // namespace patchlib

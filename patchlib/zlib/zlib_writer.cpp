#include "zlib/zlib_writer.h"

#include <zlib.h>

#include "common/patch_error.h"

namespace patchlib {

struct ZlibWriter::State {
    z_stream stream{};
    unsigned char out[64 * 1024];
};

ZlibWriter::ZlibWriter(Sink sink, bool huffmanOnly) : state_(new State), sink_(std::move(sink)) {
    if (deflateInit2(&state_->stream, 9, Z_DEFLATED, -15, 9,
                     huffmanOnly ? Z_HUFFMAN_ONLY : Z_DEFAULT_STRATEGY) != Z_OK)
        throw PatchError(PatchResult::Internal, "cannot start zlib compression");
}

ZlibWriter::~ZlibWriter() { deflateEnd(&state_->stream); }

void ZlibWriter::Pump(int flush) {
    z_stream& stream = state_->stream;
    for (;;) {
        stream.next_out = state_->out;
        stream.avail_out = sizeof(state_->out);
        int rc = deflate(&stream, flush);
        if (rc == Z_STREAM_ERROR)
            throw PatchError(PatchResult::Internal, "zlib compression failed");
        size_t produced = sizeof(state_->out) - stream.avail_out;
        if (produced) {
            sink_(state_->out, produced);
            compressedSize_ += produced;
        }
        if (flush == Z_FINISH ? rc == Z_STREAM_END
                              : (stream.avail_in == 0 && stream.avail_out != 0))
            return;
    }
}

void ZlibWriter::Write(const void* data, size_t size) {
    rawSize_ += size;
    constexpr size_t kGather = 64 * 1024;
    if (pending_.size() + size <= kGather) {
        pending_.append(static_cast<const char*>(data), size);
        return;
    }
    Deflate(pending_.data(), pending_.size());
    pending_.clear();
    if (size < kGather)
        pending_.append(static_cast<const char*>(data), size);
    else
        Deflate(data, size);
}

void ZlibWriter::Deflate(const void* data, size_t size) {
    auto bytes = static_cast<const unsigned char*>(data);
    while (size > 0) {
        uInt chunk = size > (1u << 30) ? (1u << 30) : static_cast<uInt>(size);
        state_->stream.next_in = const_cast<Bytef*>(bytes);
        state_->stream.avail_in = chunk;
        Pump(Z_NO_FLUSH);
        bytes += chunk;
        size -= chunk;
    }
}

void ZlibWriter::Finish() {
    if (finished_) return;
    Deflate(pending_.data(), pending_.size());
    pending_.clear();
    state_->stream.next_in = nullptr;
    state_->stream.avail_in = 0;
    Pump(Z_FINISH);
    finished_ = true;
}

std::string ZlibWriter::LibraryVersion() { return zlibVersion(); }

std::string ZlibWriter::Compress(const std::string& data, bool huffmanOnly) {
    std::string out;
    ZlibWriter writer([&out](const void* chunk,
                             size_t size) { out.append(static_cast<const char*>(chunk), size); },
                      huffmanOnly);
    writer.Write(data.data(), data.size());
    writer.Finish();
    return out;
}

}  // namespace patchlib

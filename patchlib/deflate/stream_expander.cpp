#include "deflate/stream_expander.h"

#include <zlib.h>

#include <algorithm>
#include <memory>

#include "common/patch_error.h"

namespace patchlib {

namespace {

constexpr size_t kBuffer = 32 * 1024;

[[noreturn]] void Mismatch() {
    throw PatchError(PatchResult::CorruptPatch,
                     "a deflate stream of the old file is not where the patch says");
}

class FileExpansion {
public:
    FileExpansion(BinaryFile& in, const StreamExpander::Sink& out)
        : in_(in), out_(out), input_(NewBuffer(kBuffer)), output_(NewBuffer(kBuffer)) {
        if (inflateInit2(&stream_, -15) != Z_OK)
            throw PatchError(PatchResult::Internal, "cannot start zlib decompression");
    }
    ~FileExpansion() { inflateEnd(&stream_); }

    void Copy(uint64_t size) {
        while (size > 0) {
            const size_t n = static_cast<size_t>(std::min<uint64_t>(size, kBuffer));
            if (!in_.ReadExact(input_.get(), n))
                throw PatchError(PatchResult::TreeMismatch, "cannot read an old file");
            Write(input_.get(), n);
            size -= n;
        }
    }

    // Inflates exactly `compressed` bytes into exactly `raw` bytes, to the stream's end.
    void Inflate(uint64_t compressed, uint64_t raw) {
        inflateReset(&stream_);
        int rc = Z_OK;
        while (rc != Z_STREAM_END) {
            if (stream_.avail_in == 0) {
                if (compressed == 0) Mismatch();
                const size_t n = static_cast<size_t>(std::min<uint64_t>(compressed, kBuffer));
                if (!in_.ReadExact(input_.get(), n))
                    throw PatchError(PatchResult::TreeMismatch, "cannot read an old file");
                compressed -= n;
                stream_.next_in = input_.get();
                stream_.avail_in = static_cast<uInt>(n);
            }
            stream_.next_out = output_.get();
            stream_.avail_out = kBuffer;
            rc = inflate(&stream_, Z_NO_FLUSH);
            if (rc != Z_OK && rc != Z_STREAM_END) Mismatch();
            const size_t produced = kBuffer - stream_.avail_out;
            if (produced > raw) Mismatch();
            raw -= produced;
            Write(output_.get(), produced);
        }
        if (raw != 0 || compressed != 0 || stream_.avail_in != 0) Mismatch();
    }

    uint64_t written() const { return written_; }

private:
    void Write(const void* data, size_t size) {
        out_(data, size);
        written_ += size;
    }

    BinaryFile& in_;
    const StreamExpander::Sink& out_;
    Buffer input_, output_;
    z_stream stream_{};
    uint64_t written_ = 0;
};

}  // namespace

std::string StreamExpander::Expand(std::string_view data, const std::vector<DeflateStream>& streams,
                                   const std::vector<std::string>& inflated) {
    std::string out;
    uint64_t at = 0;
    for (size_t i = 0; i < streams.size(); ++i) {
        out.append(data.substr(at, streams[i].offset - at));
        out += inflated[i];
        at = streams[i].offset + streams[i].compressedSize;
    }
    out.append(data.substr(at));
    return out;
}

uint64_t StreamExpander::Expand(BinaryFile& in, uint64_t size, StreamRecordReader& records,
                                const Sink& out) {
    FileExpansion expansion(in, out);
    uint64_t left = size;
    StreamRecord record;
    while (records.Next(record)) {
        if (record.gap > left || record.compressedSize > left - record.gap) Mismatch();
        expansion.Copy(record.gap);
        expansion.Inflate(record.compressedSize, record.rawSize);
        left -= record.gap + record.compressedSize;
    }
    expansion.Copy(left);
    return expansion.written();
}

}  // namespace patchlib

// Deflates a stream of bytes into a sink, at a fixed level so the same input
// always gives the same output with the same zlib. Raw deflate: the patch's
// SHA-256 already covers every byte, a second checksum would only cost time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace patchlib {

class ZlibWriter {
public:
    using Sink = std::function<void(const void* data, size_t size)>;

    // huffmanOnly: no matches, only a code per byte value, which suits bytes
    // without repeats (noise-like or low-entropy tables) better.
    explicit ZlibWriter(Sink sink, bool huffmanOnly = false);
    ~ZlibWriter();
    ZlibWriter(const ZlibWriter&) = delete;
    ZlibWriter& operator=(const ZlibWriter&) = delete;

    void Write(const void* data, size_t size);
    // Ends the stream; afterwards the counters are final.
    void Finish();

    uint64_t rawSize() const { return rawSize_; }
    uint64_t compressedSize() const { return compressedSize_; }

    // Compresses a block in memory.
    static std::string Compress(const std::string& data, bool huffmanOnly = false);

    // The version of the zlib linked in: another version may deflate the
    // same content with the same parameters to other bytes.
    static std::string LibraryVersion();

private:
    struct State;
    std::unique_ptr<State> state_;
    Sink sink_;
    uint64_t rawSize_ = 0;
    uint64_t compressedSize_ = 0;
    bool finished_ = false;
    std::string pending_;  // small writes gathered before they reach deflate
    void Pump(int flush);
    void Deflate(const void* data, size_t size);
};

}  // namespace patchlib

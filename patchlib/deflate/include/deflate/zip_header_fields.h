// The zip header fields that change together between two builds of an
// archive, recoded in an expanded form so that the delta sees equal bytes:
// every local and central header repeats the archive's date, and every
// central header repeats the CRC-32 and sizes its entry's local header or
// data descriptor gave. A date becomes its difference from a base (the
// file's most common date, so usually 0); a central header's CRC-32 and
// sizes become their XOR with the values of the entry they describe, taken
// in order (the k-th central header with the k-th local header or
// descriptor giving them, usually 0 as well).
//
// Headers are recognised by their signatures alone, scanning from the start
// of the form and skipping each header's fixed part, so that the recoded
// bytes are never scanned: encoding and decoding find the same headers, and
// decoding gives back every byte. The filter streams, with fixed memory
// besides the values waiting for their central header (at most kMaxWaiting).
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace patchlib {

class ZipHeaderFields {
public:
    using Sink = std::function<void(const void* data, size_t size)>;
    enum class Direction { Encode, Decode };
    static constexpr size_t kMaxWaiting = 1 << 17;

    ZipHeaderFields(uint32_t dateBase, Direction direction, Sink out);
    void Write(const void* data, size_t size);
    // The form is complete: the bytes held back for a possible header go out.
    void Finish();

    // The most common date of the form's headers (the smallest of equals);
    // `headers` receives how many local and central headers it has.
    static uint32_t CommonDate(std::string_view form, size_t& headers);
    static std::string Encode(std::string_view form, uint32_t dateBase);

private:
    using Values = std::array<unsigned char, 12>;  // CRC-32, compressed size, size
    uint32_t dateBase_;
    Direction direction_;
    Sink out_;
    std::vector<unsigned char> buffer_;
    size_t used_ = 0;
    std::deque<Values> waiting_;
    std::map<uint32_t, size_t>* dateCounts_ = nullptr;  // CommonDate's scan counts the dates
    void Process(bool final);
    void Date(unsigned char* field);
    void Remember(const unsigned char* values);
    void Central(unsigned char* values);
};

}  // namespace patchlib

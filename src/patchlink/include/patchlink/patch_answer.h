// The patch server's answer to a version request, decoded from the bytes
// gathered so far. Decoding is a pure function of those bytes so that the
// receiver, its tests and the fuzzer all see the same rules:
//
//   patch header: target version (4, nonzero), file size (4), name length L
//                 (2), L name bytes
//   refusal:      zero (4), reason (1), count N (2), N times port (2), host
//                 length H (2), H host bytes
//
// An answer must fit the receive buffer (kAnswerLimit bytes). It is complete
// as soon as every length it declares is covered by the bytes at hand; bytes
// beyond its end are not part of it. It is malformed when a declared length
// reaches past kAnswerLimit, since it could never be gathered whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct AlternativeServer {
    uint16_t port = 0;
    std::string host;
};

class PatchAnswer {
public:
    static constexpr size_t kAnswerLimit = 2500;
    static constexpr size_t kHeaderFixedSize = 10;
    static constexpr size_t kRefusalFixedSize = 7;

    enum class Kind { kIncomplete, kMalformed, kHeader, kRefusal };

    // Decodes the first `size` bytes of `data`; never reads past them.
    static PatchAnswer Parse(const uint8_t* data, size_t size);

    Kind kind = Kind::kIncomplete;
    size_t length = 0;                            // bytes the answer occupies (complete answers)
    uint32_t version = 0;                         // target version; 0 for a refusal
    uint32_t fileSize = 0;                        // header
    std::string fileName;                         // header, as sent (may hold any byte)
    uint8_t reason = 0;                           // refusal
    std::vector<AlternativeServer> alternatives;  // refusal, in order

private:
    static PatchAnswer ParseHeader(const uint8_t* data, size_t size);
    static PatchAnswer ParseRefusal(const uint8_t* data, size_t size);
};

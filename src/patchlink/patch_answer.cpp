#include "patchlink/patch_answer.h"

#include "patchlink/wire_order.h"

namespace {

PatchAnswer Incomplete() { return PatchAnswer{}; }

PatchAnswer Malformed() {
    PatchAnswer answer;
    answer.kind = PatchAnswer::Kind::kMalformed;
    return answer;
}

// True when the answer reaches `end` within the bytes at hand; otherwise
// `cut` says why not: past the buffer it can never arrive whole (malformed),
// past the data at hand it has not arrived yet (incomplete).
bool Reaches(size_t end, size_t size, PatchAnswer* cut) {
    if (end <= size && end <= PatchAnswer::kAnswerLimit) return true;
    *cut = end > PatchAnswer::kAnswerLimit ? Malformed() : Incomplete();
    return false;
}

}  // namespace

PatchAnswer PatchAnswer::Parse(const uint8_t* data, size_t size) {
    if (size < 4) return Incomplete();
    return patchwire::ReadU32(data) == 0 ? ParseRefusal(data, size) : ParseHeader(data, size);
}

PatchAnswer PatchAnswer::ParseHeader(const uint8_t* data, size_t size) {
    if (size < kHeaderFixedSize) return Incomplete();
    size_t end = kHeaderFixedSize + patchwire::ReadU16(data + 8);
    PatchAnswer cut;
    if (!Reaches(end, size, &cut)) return cut;
    PatchAnswer answer;
    answer.kind = Kind::kHeader;
    answer.length = end;
    answer.version = patchwire::ReadU32(data);
    answer.fileSize = patchwire::ReadU32(data + 4);
    answer.fileName.assign(reinterpret_cast<const char*>(data + kHeaderFixedSize),
                           end - kHeaderFixedSize);
    return answer;
}

PatchAnswer PatchAnswer::ParseRefusal(const uint8_t* data, size_t size) {
    if (size < kRefusalFixedSize) return Incomplete();
    PatchAnswer answer;
    answer.kind = Kind::kRefusal;
    answer.reason = data[4];
    uint16_t count = patchwire::ReadU16(data + 5);
    size_t at = kRefusalFixedSize;
    for (uint16_t i = 0; i < count; ++i) {
        PatchAnswer cut;
        if (!Reaches(at + 4, size, &cut)) return cut;
        size_t end = at + 4 + patchwire::ReadU16(data + at + 2);
        if (!Reaches(end, size, &cut)) return cut;
        AlternativeServer server;
        server.port = patchwire::ReadU16(data + at);
        server.host.assign(reinterpret_cast<const char*>(data + at + 4), end - at - 4);
        answer.alternatives.push_back(std::move(server));
        at = end;
    }
    answer.length = at;
    return answer;
}

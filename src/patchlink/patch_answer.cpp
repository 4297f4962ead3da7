#include "patchlink/patch_answer.h"

#include "patchlink/wire_order.h"

namespace {

PatchAnswer Incomplete() { return PatchAnswer{}; }

PatchAnswer Malformed() {
    PatchAnswer answer;
    answer.kind = PatchAnswer::Kind::kMalformed;
    return answer;
}

// Where the answer would need to reach: past the buffer it can never arrive
// whole; past the data at hand it has not arrived yet.
enum class Reach { kInside, kLater, kNever };
Reach Check(size_t end, size_t size) {
    if (end > PatchAnswer::kAnswerLimit) return Reach::kNever;
    return end > size ? Reach::kLater : Reach::kInside;
}

}  // namespace

PatchAnswer PatchAnswer::Parse(const uint8_t* data, size_t size) {
    if (size < 4) return Incomplete();
    return patchwire::ReadU32(data) == 0 ? ParseRefusal(data, size) : ParseHeader(data, size);
}

PatchAnswer PatchAnswer::ParseHeader(const uint8_t* data, size_t size) {
    if (size < kHeaderFixedSize) return Incomplete();
    size_t end = kHeaderFixedSize + patchwire::ReadU16(data + 8);
    switch (Check(end, size)) {
        case Reach::kNever:
            return Malformed();
        case Reach::kLater:
            return Incomplete();
        case Reach::kInside:
            break;
    }
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
        switch (Check(at + 4, size)) {
            case Reach::kNever:
                return Malformed();
            case Reach::kLater:
                return Incomplete();
            case Reach::kInside:
                break;
        }
        size_t end = at + 4 + patchwire::ReadU16(data + at + 2);
        switch (Check(end, size)) {
            case Reach::kNever:
                return Malformed();
            case Reach::kLater:
                return Incomplete();
            case Reach::kInside:
                break;
        }
        AlternativeServer server;
        server.port = patchwire::ReadU16(data + at);
        server.host.assign(reinterpret_cast<const char*>(data + at + 4), end - at - 4);
        answer.alternatives.push_back(std::move(server));
        at = end;
    }
    answer.length = at;
    return answer;
}

#include "deflate/zip_header_fields.h"

#include <algorithm>
#include <cstring>
#include "common/byte_order.h"

namespace patchlib {

namespace {

constexpr size_t kBuffer = 64 * 1024;
// The fixed parts: a local header is 30 bytes, a central header 46 (its
// fields up to the sizes, 28, are all this reads), a data descriptor with
// its signature 16.
constexpr size_t kLocal = 30, kCentral = 28, kDescriptor = 16;
constexpr size_t kLookahead = kLocal;

}  // namespace

ZipHeaderFields::ZipHeaderFields(uint32_t dateBase, Direction direction, Sink out)
    : dateBase_(dateBase), direction_(direction), out_(std::move(out)), buffer_(kBuffer) {}

void ZipHeaderFields::Write(const void* data, size_t size) {
    auto bytes = static_cast<const unsigned char*>(data);
    while (size > 0) {
        const size_t take = std::min(size, buffer_.size() - used_);
        std::memcpy(buffer_.data() + used_, bytes, take);
        used_ += take;
        bytes += take;
        size -= take;
        if (used_ == buffer_.size()) Process(false);
    }
}

void ZipHeaderFields::Finish() { Process(true); }

// Scans every position whose header would lie wholly in the buffer (all of
// them once the form is complete), sends what it passed and keeps the rest.
void ZipHeaderFields::Process(bool final) {
    unsigned char* data = buffer_.data();
    const size_t limit = final ? used_ : (used_ >= kLookahead ? used_ - kLookahead + 1 : 0);
    size_t p = 0;
    while (p < limit) {
        auto* hit = static_cast<unsigned char*>(std::memchr(data + p, 'P', limit - p));
        if (!hit) {
            p = limit;
            break;
        }
        p = static_cast<size_t>(hit - data);
        const size_t room = used_ - p;
        if (room >= 4 && data[p + 1] == 'K') {
            const unsigned char a = data[p + 2], b = data[p + 3];
            if (a == 3 && b == 4 && room >= kLocal) {
                Date(data + p + 10);
                if (!(data[p + 6] & 8)) Remember(data + p + 14);  // no data descriptor
                p += kLocal;
                continue;
            }
            if (a == 7 && b == 8 && room >= kDescriptor) {
                Remember(data + p + 4);
                p += kDescriptor;
                continue;
            }
            if (a == 1 && b == 2 && room >= kCentral) {
                Date(data + p + 12);
                Central(data + p + 16);
                p += kCentral;
                continue;
            }
        }
        ++p;
    }
    if (p > 0) out_(data, p);
    std::memmove(data, data + p, used_ - p);
    used_ -= p;
}

void ZipHeaderFields::Date(unsigned char* field) {
    const uint32_t value = static_cast<uint32_t>(GetLE(field, 4));
    if (dateCounts_) ++(*dateCounts_)[value];
    PutLE(field, direction_ == Direction::Encode ? value - dateBase_ : value + dateBase_, 4);
}

void ZipHeaderFields::Remember(const unsigned char* values) {
    if (waiting_.size() == kMaxWaiting) return;
    waiting_.emplace_back();
    std::memcpy(waiting_.back().data(), values, waiting_.back().size());
}

// XOR is its own inverse, and the remembered values are never recoded: both
// directions take the same values.
void ZipHeaderFields::Central(unsigned char* values) {
    if (waiting_.empty()) return;
    for (size_t i = 0; i < waiting_.front().size(); ++i) values[i] ^= waiting_.front()[i];
    waiting_.pop_front();
}

uint32_t ZipHeaderFields::CommonDate(std::string_view form, size_t& headers) {
    std::map<uint32_t, size_t> counts;
    headers = 0;
    // Encoding with base 0 leaves the dates as they are: the sink sees them.
    ZipHeaderFields scan(0, Direction::Encode, [](const void*, size_t) {});
    scan.dateCounts_ = &counts;
    scan.Write(form.data(), form.size());
    scan.Finish();
    uint32_t best = 0;
    size_t bestCount = 0;
    for (const auto& [date, count] : counts) {
        headers += count;
        if (count > bestCount) best = date, bestCount = count;
    }
    return best;
}

std::string ZipHeaderFields::Encode(std::string_view form, uint32_t dateBase) {
    std::string out;
    out.reserve(form.size());
    ZipHeaderFields encoder(dateBase, Direction::Encode, [&out](const void* data, size_t size) {
        out.append(static_cast<const char*>(data), size);
    });
    encoder.Write(form.data(), form.size());
    encoder.Finish();
    return out;
}

}  // namespace patchlib

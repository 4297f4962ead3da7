#include "packet/kvn_packet.h"

#include <cstring>
#include <limits>
#include <new>

namespace {
constexpr int kMinDatagram = KVNPacket::kHeaderSize + 2;  // header and packet id
constexpr int kGrowthSpare = 5;
}  // namespace

KVNPacket::KVNPacket()
    : position_(0),
      limit_(0),
      buffer_(new unsigned char[kHeaderSize]()),
      body_(buffer_ + kHeaderSize),
      borrowed_(0) {}

KVNPacket::~KVNPacket() { ReleaseBuffer(); }

void KVNPacket::ReleaseBuffer() {
    if (!borrowed_) delete[] buffer_;
    buffer_ = body_ = nullptr;
}

void KVNPacket::Destroy() {
    ReleaseBuffer();
    buffer_ = new unsigned char[kHeaderSize]();
    body_ = buffer_ + kHeaderSize;
    borrowed_ = 0;
    position_ = 0;
    limit_ = 0;
}

void KVNPacket::QueryBufferSpace(int n) {
    int64_t end = int64_t(position_) + n;
    if (end < limit_) return;
    // Even an exact fit grows: every growth leaves 5 spare bytes.
    int64_t newLimit = end + kGrowthSpare;
    if (newLimit + kHeaderSize > std::numeric_limits<int32_t>::max()) throw std::bad_alloc();
    auto* grown = new unsigned char[size_t(newLimit) + kHeaderSize];
    std::memcpy(grown, buffer_, size_t(limit_) + kHeaderSize);
    ReleaseBuffer();
    buffer_ = grown;
    body_ = buffer_ + kHeaderSize;
    borrowed_ = 0;
    limit_ = int32_t(newLimit);
}

void KVNPacket::WriteBigEndian(uint32_t value, int width) {
    QueryBufferSpace(width);
    for (int i = 0; i < width; ++i)
        body_[position_ + i] = static_cast<unsigned char>(value >> (8 * (width - 1 - i)));
    position_ += width;
}

KVNPacket& KVNPacket::operator<<(short value) {
    WriteBigEndian(static_cast<uint16_t>(value), 2);
    return *this;
}

KVNPacket& KVNPacket::operator<<(char value) {
    WriteBigEndian(static_cast<unsigned char>(value), 1);
    return *this;
}

KVNPacket& KVNPacket::operator<<(long value) {
    WriteBigEndian(static_cast<uint32_t>(value), 4);
    return *this;
}

KVNPacket& KVNPacket::operator<<(const char* text) {
    size_t n = text ? std::strlen(text) : 0;
    if (n > size_t(std::numeric_limits<int32_t>::max())) throw std::bad_alloc();
    QueryBufferSpace(int(n));
    if (n) std::memcpy(body_ + position_, text, n);
    position_ += int32_t(n);
    return *this;
}

void KVNPacket::CheckReadable(int width) const {
    if (int64_t(position_) + width > limit_) throw new KVNPacketException(KVN_READ_PAST_END);
}

uint32_t KVNPacket::ReadBigEndian(int width) {
    CheckReadable(width);
    uint32_t value = 0;
    for (int i = 0; i < width; ++i) value = (value << 8) | body_[position_ + i];
    position_ += width;
    return value;
}

void KVNPacket::Get(long* value) {
    *value = 0;
    *value = static_cast<int32_t>(ReadBigEndian(4));
}

void KVNPacket::Get(unsigned long* value) {
    *value = 0;
    *value = ReadBigEndian(4);
}

void KVNPacket::Get(short* value) {
    *value = 0;
    *value = static_cast<short>(static_cast<uint16_t>(ReadBigEndian(2)));
}

void KVNPacket::Get(unsigned short* value) {
    *value = 0;
    *value = static_cast<unsigned short>(ReadBigEndian(2));
}

void KVNPacket::Get(char* value) {
    *value = 0;
    *value = static_cast<char>(static_cast<unsigned char>(ReadBigEndian(1)));
}

void KVNPacket::Get(unsigned char* value) {
    *value = 0;
    *value = static_cast<unsigned char>(ReadBigEndian(1));
}

void KVNPacket::Seek(long offset, char mode) {
    int64_t target;
    if (mode == 0)
        target = offset;
    else if (mode == 1)
        target = int64_t(position_) + offset;
    else
        return;
    if (target < 0 || target > std::numeric_limits<int32_t>::max()) return;
    position_ = int32_t(target);
}

int KVNPacket::TakeBuffer(unsigned char* bytes, int length, int32_t borrowedFlag) {
    if (!bytes || length < kMinDatagram) return 0;
    ReleaseBuffer();
    buffer_ = bytes;
    body_ = bytes + kHeaderSize;
    limit_ = length - kHeaderSize;
    position_ = 0;
    borrowed_ = borrowedFlag;
    return 1;
}

int KVNPacket::SetBuffer(unsigned char* bytes, int length) { return TakeBuffer(bytes, length, 1); }

int KVNPacket::AdoptBuffer(unsigned char* bytes, int length) {
    return TakeBuffer(bytes, length, 0);
}

void KVNPacket::GetBuffer(unsigned char*& bytes, int& length) {
    bytes = buffer_;
    // A position sought past the body must not make the caller read past
    // the block.
    length = (position_ < limit_ ? position_ : limit_) + kHeaderSize;
}

short KVNPacket::GetPacketID() {
    if (limit_ < 2) return 0;
    int32_t saved = position_;
    position_ = 0;
    short id = 0;
    Get(&id);
    position_ = saved;
    return id;
}

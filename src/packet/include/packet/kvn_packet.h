// One game-link message: a 4-byte cipher header followed by the body, whose
// first field is the 16-bit packet id. Body fields are written with the
// operator<< family and read with the Get family, most significant byte
// first. A packet is used by one thread at a time.
#pragma once

#include <cstdint>

#include "packet/kvn_packet_exception.h"
#include "export/mrl_export.h"

class MRL_EXPORT KVNPacket {
public:
    static constexpr int kHeaderSize = 4;  // seed and checksum of the cipher

    KVNPacket();
    virtual ~KVNPacket();
    // Two packets sharing one buffer would release it twice.
    KVNPacket(const KVNPacket&) = delete;
    KVNPacket& operator=(const KVNPacket&) = delete;

    // Empties the packet: a fresh owned header block, nothing written.
    void Destroy();

    KVNPacket& operator<<(short value);
    KVNPacket& operator<<(char value);
    // Four bytes on the wire whatever the width of long on this platform.
    KVNPacket& operator<<(long value);
    // The characters alone: no length, no terminator.
    KVNPacket& operator<<(const char* text);

    // Each reader stores 0 first, then throws a new KVNPacketException
    // (code 1) without moving the position when the value would pass the
    // end of the body.
    void Get(long* value);
    void Get(unsigned long* value);
    void Get(short* value);
    void Get(unsigned short* value);
    void Get(char* value);
    void Get(unsigned char* value);

    // Mode 0: absolute; mode 1: relative; other modes: nothing. A move that
    // would make the position negative is ignored (nothing lies before the
    // body that a reader or writer may touch).
    void Seek(long offset, char mode);

    // Reads a whole received datagram (header included) in place; the
    // caller keeps the bytes and must keep them alive while the packet is
    // read. Fewer than 6 bytes: refused (0), the packet unchanged.
    int SetBuffer(unsigned char* bytes, int length);
    // As SetBuffer, but the packet takes the bytes (allocated with new[])
    // and releases them with itself. Refused bytes stay the caller's.
    int AdoptBuffer(unsigned char* bytes, int length);
    // The whole datagram of a built packet: header and the body written.
    void GetBuffer(unsigned char*& bytes, int& length);
    // The id at body positions 0-1, or 0 when the body is shorter.
    short GetPacketID();

    // The cipher: scrambles the built body in place and fills the header
    // with a seed drawn from `clockSeed` (the caller's clock: the game link
    // passes the seconds since the epoch) and the checksum of the plain body.
    void EncryptPacket(uint32_t clockSeed);
    // The same with a given seed (0..512); EncryptPacket draws it.
    void EncryptPacketWithSeed(uint16_t packetSeed);
    // Unscrambles the received body in place; 1 when the checksum matches.
    int DecryptPacket();

    int32_t GetPosition() const { return position_; }
    int32_t GetLimit() const { return limit_; }

private:
    // Makes room for n more bytes at the position (linear growth, 5 spare).
    void QueryBufferSpace(int n);
    // Throws unless `width` bytes can be read at the position.
    void CheckReadable(int width) const;
    uint32_t ReadBigEndian(int width);
    void WriteBigEndian(uint32_t value, int width);
    void ReleaseBuffer();
    int TakeBuffer(unsigned char* bytes, int length, int32_t borrowedFlag);

    int32_t position_;
    int32_t limit_;
    unsigned char* buffer_;
    unsigned char* body_;
    int32_t borrowed_;
};

// One datagram on its way through the engine: an outgoing message or
// fragment, an acknowledgement, a received datagram or a reassembly.
#pragma once

#include <atomic>
#include <bitset>
#include <cstdint>
#include <memory>

#include "gamelink/critical_lock.h"
#include "gamelink/datagram_header.h"
#include "gamelink/due_time.h"
#include "platform/socket.h"

// A message of at most 65,523 payload bytes has at most 65 fragments.
constexpr uint32_t kMaxFragments = kMaxMessagePayload / kMaxFragmentPayload + 1;

class DatagramRecord {
public:
    DatagramRecord();
    ~DatagramRecord();
    DatagramRecord(const DatagramRecord&) = delete;
    DatagramRecord& operator=(const DatagramRecord&) = delete;

    // A record whose data is a fresh block of `size` bytes (zeroed).
    static DatagramRecord* WithData(uint32_t size);

    uint8_t* Data() { return data.get(); }
    const uint8_t* Data() const { return data.get(); }
    DatagramHeader Header() const { return DatagramHeader::Decode(data.get()); }

    // Records alive in the process; tests use it to see records released.
    static long LiveCount();

    sockaddr_in peerAddress{};
    std::unique_ptr<uint8_t[]> data;  // 12 header bytes, then the payload
    uint32_t length = 0;              // bytes in data
    uint32_t interval = 0;            // ms between transmissions (reliable)
    uint32_t dueTime = kNotScheduled;
    // Retransmissions still allowed; 0 marks an unreliable record. In a
    // reassembly: the fragments still missing.
    uint32_t retriesLeft = 0;
    int32_t acknowledged = 0;
    uint32_t pendingSends = 0;  // entries of this record in the send queue
    // Guards dueTime, retriesLeft, acknowledged and pendingSends of an
    // outgoing record, which the worker and the send thread both change.
    CriticalLock lock;
    // In a reassembly: which fragment indices have arrived.
    std::bitset<kMaxFragments> fragmentsArrived;

private:
    static std::atomic<long> live;
};

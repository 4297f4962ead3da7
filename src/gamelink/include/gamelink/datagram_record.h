// Datagrams inside the engine: what is received, delivered or queued is a
// plain value; what goes to the send thread is a shared record, because a
// reliable datagram may wait there several times while the worker still
// lists it as unacknowledged.
#pragma once

#include <atomic>
#include <cstdint>
#include <utility>
#include <vector>

#include "platform/socket.h"

struct Datagram {
    sockaddr_in peerAddress{};  // destination, or sender of a received one
    std::vector<uint8_t> data;  // 12 header bytes, then the payload
};

struct DatagramRecord {
    explicit DatagramRecord(Datagram bytes) : datagram(std::move(bytes)) {}

    const Datagram datagram;
    // Set by the worker when the peer acknowledged it: entries of it still
    // waiting for the send thread are skipped.
    std::atomic<bool> acknowledged{false};
};

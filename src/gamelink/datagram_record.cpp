#include "gamelink/datagram_record.h"

std::atomic<long> DatagramRecord::live{0};

DatagramRecord::DatagramRecord() { live.fetch_add(1, std::memory_order_relaxed); }

DatagramRecord::~DatagramRecord() { live.fetch_sub(1, std::memory_order_relaxed); }

DatagramRecord* DatagramRecord::WithData(uint32_t size) {
    auto* record = new DatagramRecord;
    record->data.reset(new uint8_t[size ? size : 1]());
    record->length = size;
    return record;
}

long DatagramRecord::LiveCount() { return live.load(std::memory_order_relaxed); }

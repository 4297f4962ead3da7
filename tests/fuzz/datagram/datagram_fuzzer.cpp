// The engine's core fed arbitrary datagrams and messages, the tick moved by
// the input so that resends and expiries run too. Chunks of [operation]
// [length, 2 bytes little-endian][bytes]; operation & 3: 0 a datagram from
// peer (op >> 2) & 1, 1 the tick moves length x 10 ms, 2 a message to that
// peer with (op >> 3) & 7 retries, 3 a service pass (room by (op >> 2) & 1).

#include "gamelink/engine_core.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::atomic<uint32_t> numbering{0};
    // What leaves the core is not looked at: ASan and UBSan watch the way.
    bool room = true;
    EngineCore core([](std::shared_ptr<const DatagramRecord>) {}, [](Datagram) {},
                    [&room] { return room; }, numbering);
    uint32_t now = 0xFFFF0000u;  // near the wrap, so that deadlines cross it
    for (size_t at = 0; at + 3 <= size;) {
        uint8_t operation = data[at];
        size_t length = size_t(data[at + 1]) | size_t(data[at + 2]) << 8;
        at += 3;
        if ((operation & 3) == 1) now += uint32_t(length) * 10;
        if ((operation & 3) == 3) room = (operation >> 2) & 1;
        if ((operation & 1) == 0) {
            if (length > size - at) length = size - at;
            Datagram datagram{{}, std::vector<uint8_t>(data + at, data + at + length)};
            datagram.peerAddress.sin_port = htons(uint16_t(40000 + ((operation >> 2) & 1)));
            at += length;
            if (!(operation & 2)) {
                core.Receive(std::move(datagram), now);
            } else {
                datagram.data.insert(datagram.data.begin(), kDatagramHeaderSize, 0);
                core.Dispatch(std::move(datagram), 1000, (operation >> 3) & 7, now);
            }
        }
        core.Service(now);
    }
    return 0;
}

// The engine's receive path with arbitrary datagrams: headers,
// acknowledgements, duplicates, fragments and reassembly bounds, with the
// tick moved by the input so that resends and expiries run too. No socket
// and no threads: the engine's steps are called one by one.
//
// Input: chunks of [operation][length, 2 bytes little-endian][bytes].
//   operation & 3 == 0: a datagram of `length` bytes from peer (op >> 2) & 1
//   operation & 3 == 1: the tick moves by length x 10 ms
//   operation & 3 == 2: a message of `length` bytes queued to that peer,
//                       with (op >> 3) & 7 retries
//   operation & 3 == 3: one more worker cycle
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "gamelink/datagram_engine.h"
#include "platform/time.h"

namespace {
uint32_t g_now = 0;
uint32_t FuzzTick() { return g_now; }

void CheckDelivery(sockaddr_in, const uint8_t* bytes, int32_t length) {
    if (length < 0 || uint32_t(length) > kMaxMessagePayload) std::abort();
    // Touch every byte so that a delivery past its block shows.
    volatile uint8_t sum = 0;
    for (int32_t i = 0; i < length; ++i) sum = uint8_t(sum + bytes[i]);
}

sockaddr_in Peer(int which) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(0x7F000001);
    address.sin_port = htons(uint16_t(40000 + which));
    return address;
}

void RunSteps(DatagramEngine& engine) {
    engine.ServiceOutgoing();
    engine.ServiceIncoming();
    while (engine.SendNext()) {
    }
    while (engine.DeliverNext()) {
    }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    platform::SetTickSource(FuzzTick);
    g_now = 0xFFFF0000u;  // near the wrap, so that deadlines cross it
    {
        DatagramEngine engine;
        engine.SetCallback(CheckDelivery);
        size_t at = 0;
        while (at + 3 <= size) {
            uint8_t operation = data[at];
            size_t length = size_t(data[at + 1]) | size_t(data[at + 2]) << 8;
            at += 3;
            switch (operation & 3) {
                case 0:
                case 2: {
                    if (length > size - at) length = size - at;
                    if ((operation & 3) == 0)
                        engine.AcceptDatagram(Peer((operation >> 2) & 1), data + at,
                                              int32_t(length));
                    else
                        engine.QueueMessage(Peer((operation >> 2) & 1), data + at, int32_t(length),
                                            1000, (operation >> 3) & 7);
                    at += length;
                    break;
                }
                case 1:
                    g_now += uint32_t(length) * 10;
                    break;
                default:
                    break;
            }
            RunSteps(engine);
        }
        for (int i = 0; i < 4; ++i) RunSteps(engine);
        // The destructor releases whatever is left: leaks show under ASan.
    }
    platform::SetTickSource(nullptr);
    return 0;
}

#include "answer_reader.h"

#include <algorithm>

namespace {
void ApplyKeystream(Bytes& message, uint16_t seed) {
    uint32_t state = seed;
    for (size_t i = 4; i < message.size(); ++i) {
        state = state * 7563921u + 1u;
        message[i] ^= uint8_t(state);
    }
}
uint16_t BodySum(const Bytes& message) {
    uint32_t sum = 0;
    for (size_t i = 4; i < message.size(); ++i) sum += message[i];
    return uint16_t(sum);
}
uint32_t BigEndian(const Bytes& body, size_t at, int width) {
    uint32_t value = 0;
    for (int i = 0; i < width; ++i) value = value << 8 | body[at + size_t(i)];
    return value;
}
}  // namespace

Bytes EncipherBody(const Bytes& body, uint16_t seed) {
    Bytes message(4 + body.size());
    std::copy(body.begin(), body.end(), message.begin() + 4);
    uint16_t sum = BodySum(message);
    message[0] = uint8_t(seed);
    message[1] = uint8_t(seed >> 8);
    message[2] = uint8_t(sum);
    message[3] = uint8_t(sum >> 8);
    ApplyKeystream(message, seed);
    return message;
}

bool DecipherMessage(const Bytes& message, Bytes* body) {
    if (message.size() < 4) return false;
    Bytes plain = message;
    ApplyKeystream(plain, uint16_t(plain[0] | plain[1] << 8));
    if (BodySum(plain) != uint16_t(plain[2] | plain[3] << 8)) return false;
    body->assign(plain.begin() + 4, plain.end());
    return true;
}

bool ReadAnswerBody(const Bytes& body, ReadAnswer* answer) {
    size_t at = 0;
    auto has = [&](size_t n) { return body.size() - at >= n; };
    if (!has(8)) return false;
    answer->id = uint16_t(BigEndian(body, 0, 2));
    answer->version = BigEndian(body, 2, 4);
    uint32_t count = BigEndian(body, 6, 2);
    at = 8;
    answer->servers.clear();
    for (uint32_t i = 0; i < count; ++i) {
        if (!has(4)) return false;
        uint16_t port = uint16_t(BigEndian(body, at, 2));
        uint32_t length = BigEndian(body, at + 2, 2);
        at += 4;
        if (!has(length)) return false;
        answer->servers.emplace_back(
            std::string(body.begin() + long(at), body.begin() + long(at + length)), port);
        at += length;
    }
    return at == body.size();
}

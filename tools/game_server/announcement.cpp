#include "announcement.h"

#include <arpa/inet.h>

#include <algorithm>
#include <utility>

namespace {
// A fixed mix of the address's bits: neighbouring addresses land far apart.
// The two uses take different salts so that the rollout and the server
// choice are independent of each other.
uint32_t Mix(uint32_t address, uint32_t salt) {
    uint32_t h = ntohl(address) ^ salt;
    h ^= h >> 16;
    h *= 0x85EBCA6Bu;
    h ^= h >> 13;
    h *= 0xC2B2AE35u;
    h ^= h >> 16;
    return h;
}
constexpr uint32_t kServerSalt = 0x5F3759DFu;
constexpr uint32_t kRolloutSalt = 0x9E3779B9u;
}  // namespace

Announcement::Announcement(uint32_t newest, uint32_t previous, uint32_t rolloutPercent,
                           std::vector<ListedPatchServer> servers)
    : newest_(newest),
      previous_(previous),
      rolloutPercent_(std::min(rolloutPercent, kWholeRollout)),
      servers_(std::move(servers)) {}

Announcement::Announcement(const ServerConfig& config)
    : Announcement(config.version, config.previousVersion, config.rolloutPercent,
                   config.patchServers) {}

size_t Announcement::FirstServer(uint32_t address, size_t count) {
    return count == 0 ? 0 : Mix(address, kServerSalt) % count;
}

bool Announcement::InRollout(uint32_t address, uint32_t percent) {
    return Mix(address, kRolloutSalt) % kWholeRollout < percent;
}

VersionAnswer Announcement::For(uint32_t address) const {
    std::vector<ListedPatchServer> order = servers_;
    std::rotate(order.begin(), order.begin() + long(FirstServer(address, order.size())),
                order.end());
    return VersionAnswer(InRollout(address, rolloutPercent_) ? newest_ : previous_,
                         std::move(order));
}

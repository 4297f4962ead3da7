// What the game server tells one asker: the version (the newest for the
// askers inside the rollout, the previous one for the rest) and the patch
// servers in the asker's own order. Both depend only on the asker's IPv4
// address, so a player asking again hears the same, and players spread
// evenly over the servers: each list is the configured one rotated to start
// at a server chosen by the address, so a server's alternatives still
// follow it in the configured order.
#pragma once

#include <cstdint>
#include <vector>

#include "server_config.h"
#include "version_answer.h"

class Announcement {
public:
    static constexpr uint32_t kWholeRollout = 100;

    // `rolloutPercent` of the askers (0..100) hear `newest`, the others
    // `previous`.
    Announcement(uint32_t newest, uint32_t previous, uint32_t rolloutPercent,
                 std::vector<ListedPatchServer> servers);
    explicit Announcement(const ServerConfig& config);

    // The answer for an asker at `address` (network byte order).
    VersionAnswer For(uint32_t address) const;

    // Where the asker's list starts, 0..count-1 (0 when count is 0).
    static size_t FirstServer(uint32_t address, size_t count);
    // True when the asker is among the first `percent` of 100 buckets.
    static bool InRollout(uint32_t address, uint32_t percent);

    uint32_t Newest() const { return newest_; }
    uint32_t Previous() const { return previous_; }
    uint32_t RolloutPercent() const { return rolloutPercent_; }
    const std::vector<ListedPatchServer>& Servers() const { return servers_; }

private:
    uint32_t newest_;
    uint32_t previous_;
    uint32_t rolloutPercent_;
    std::vector<ListedPatchServer> servers_;
};

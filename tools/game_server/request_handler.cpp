#include "request_handler.h"

#include <algorithm>
#include <utility>

#include "packet/kvn_packet.h"

namespace {
// The cipher header and a packet id: the least that can be a request.
constexpr int32_t kMinMessage = KVNPacket::kHeaderSize + 2;
// A log line names this many patch servers at most.
constexpr size_t kServersNamed = 8;

std::string DescribeServers(uint32_t version, const std::vector<ListedPatchServer>& servers) {
    std::string text = "version " + std::to_string(version) + ", " +
                       std::to_string(servers.size()) +
                       (servers.size() == 1 ? " patch server" : " patch servers");
    for (size_t i = 0; i < servers.size() && i < kServersNamed; ++i)
        text += (i == 0 ? ": " : " ") + servers[i].host + ":" + std::to_string(servers[i].port);
    if (servers.size() > kServersNamed) text += " ...";
    return text;
}
}  // namespace

RequestHandler::RequestHandler(Announcement told, uint32_t perSecond)
    : announcement(std::move(told)), answersPerSecond(perSecond), rateLimit(perSecond) {}

void RequestHandler::Reconfigure(Announcement told, uint32_t perSecond) {
    announcement = std::move(told);
    if (perSecond != answersPerSecond) rateLimit = AnswerRateLimit(perSecond);
    answersPerSecond = perSecond;
}

RequestHandler::Outcome RequestHandler::Handle(const sockaddr_in& from, uint32_t now,
                                               const uint8_t* bytes, int32_t length) {
    Outcome outcome;
    if (bytes == nullptr || length < kMinMessage) {
        outcome.note = "ignored: " + std::to_string(length) + " bytes, too short for a message";
        return outcome;
    }
    // The packet deciphers in place: give it a copy of its own.
    auto* copy = new unsigned char[size_t(length)];
    std::copy(bytes, bytes + length, copy);
    KVNPacket packet;
    packet.AdoptBuffer(copy, length);
    if (!packet.DecryptPacket()) {
        outcome.verdict = Verdict::kBadChecksum;
        outcome.note = "ignored: bad checksum";
        return outcome;
    }
    short id = packet.GetPacketID();
    if (id != VersionAnswer::kMessageId) {
        outcome.verdict = Verdict::kOtherMessage;
        outcome.note = "ignored: message " + std::to_string(id);
        return outcome;
    }
    if (!rateLimit.Allow(from.sin_addr.s_addr, now)) {
        outcome.verdict = Verdict::kRateLimited;
        outcome.note = "ignored: message 65 over the limit of " + std::to_string(answersPerSecond) +
                       " answers a second to this address";
        return outcome;
    }
    const VersionAnswer answer = announcement.For(from.sin_addr.s_addr);
    outcome.answered = true;
    outcome.verdict = Verdict::kAnswered;
    outcome.answer = answer.Encode();
    outcome.note = "message 65 answered: " + DescribeServers(answer.Version(), answer.Servers());
    return outcome;
}

std::string RequestHandler::Describe() const {
    std::string text = DescribeServers(announcement.Newest(), announcement.Servers());
    if (announcement.RolloutPercent() < Announcement::kWholeRollout)
        text += " (to " + std::to_string(announcement.RolloutPercent()) +
                " % of players; version " + std::to_string(announcement.Previous()) +
                " to the rest)";
    return text;
}

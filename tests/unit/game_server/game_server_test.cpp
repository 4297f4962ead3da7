// The reference game server without sockets: its answer byte for byte,
// what it answers and what it ignores, and the configuration it accepts.
#include <gtest/gtest.h>

#include <iterator>
#include <map>
#include <optional>
#include <sstream>

#include "announcement.h"
#include "packet/kvn_packet.h"
#include "request_handler.h"
#include "server_config.h"
#include "version_answer.h"

namespace {

using Bytes = std::vector<uint8_t>;

TEST(GameServer, TheAnswerByteForByte) {
    // Body 00 41 | 00 00 00 07 | 00 00 under seed 1; checksum 0x41 + 7.
    EXPECT_EQ(VersionAnswer(7, {}).EncodeWithSeed(1),
              (Bytes{0x01, 0x00, 0x48, 0x00, 0x92, 0xF2, 0x64, 0xA5, 0x76, 0xD0, 0xC8, 0x49}));
    // Top version and port: wrong through a signed or host-order write.
    EXPECT_EQ(VersionAnswer(0xFFFFFFFFu, {{"ab", 65535}}).EncodeWithSeed(512),
              (Bytes{0x00, 0x02, 0x01, 0x07, 0x01, 0xD3, 0x4C, 0x9B, 0x5A, 0x89, 0xD7, 0xC9, 0xB6,
                     0xA5, 0xFB, 0x2E, 0x8C, 0x5C}));
}

TEST(GameServer, OnlyAnIntactMessage65IsAnswered) {
    RequestHandler handler{Announcement(12, 0, 100, {{"p.example", 11679}}), 0};
    for (auto [request, answered] : std::vector<std::pair<Bytes, bool>>{
             // under seed 1
             {{0x01, 0x00, 0x41, 0x00, 0x92, 0xF2}, true},
             {{0x01, 0x00, 0x42, 0x00, 0x92, 0xF2}, false},  // damaged
             {{0x01, 0x00, 0x42, 0x00, 0x92, 0xF1}, false},  // 66
             {{0x01, 0x00, 0x41, 0x00, 0xD3, 0xB3}, false},  // 41 00
             {{0x01, 0x00, 0x41, 0x00, 0x92}, false}}) {
        RequestHandler::Outcome outcome =
            handler.Handle(sockaddr_in{}, 0, request.data(), int32_t(request.size()));
        ASSERT_EQ(outcome.answered, answered) << int(request.back());
        if (!answered) continue;
        KVNPacket answer;
        ASSERT_EQ(answer.SetBuffer(outcome.answer.data(), int(outcome.answer.size())), 1);
        EXPECT_EQ(answer.DecryptPacket(), 1);
        EXPECT_EQ(Bytes(outcome.answer.begin() + 4, outcome.answer.end()),
                  (Bytes{0x00, 0x41, 0,   0,   0,   12,  0x00, 0x01, 0x2D, 0x9F, 0x00,
                         0x09, 'p',  '.', 'e', 'x', 'a', 'm',  'p',  'l',  'e'}));
    }
}

TEST(GameServer, AnswersAreLimitedPerAddressAllItsPortsTogether) {
    const Bytes request = {0x01, 0x00, 0x41, 0x00, 0x92, 0xF2};
    RequestHandler handler{Announcement(1, 0, 100, {}), 2};  // a burst of 2, then one every 500 ms
    // Port, address 10.0.0.1 or .2, milliseconds (the tick wraps at 512).
    const uint32_t asks[][3] = {{1, 1, 0},   {2, 1, 0},   {1, 1, 0},    {1, 2, 0},   {1, 1, 499},
                                {2, 1, 500}, {1, 1, 500}, {1, 1, 1000}, {1, 1, 1000}};
    std::vector<bool> answered;
    for (const auto& [port, address, ms] : asks) {
        sockaddr_in from{};
        from.sin_port = htons(uint16_t(port));
        from.sin_addr.s_addr = htonl(0x0A000000 + address);
        answered.push_back(handler.Handle(from, 0xFFFFFE00u + ms, request.data(), 6).answered);
    }
    EXPECT_EQ(answered, (std::vector<bool>{1, 1, 0, 1, 0, 1, 0, 1, 0}));
}

// 10,000 askers: the rollout's share hears the newest version, a wider
// rollout keeps everyone a narrower one had, each list is the configured one
// rotated, and the four servers head about a quarter of the lists each.
TEST(GameServer, RolloutAndServerOrderDependOnlyOnTheAskersAddress) {
    const std::vector<ListedPatchServer> servers = {{"a", 1}, {"b", 2}, {"c", 3}, {"d", 4}};
    for (uint32_t percent : {0u, 10u, 30u, 100u}) {
        const Announcement told(9, 8, percent, servers);
        const Announcement wider(9, 8, percent + 20, servers);
        size_t newest = 0;
        std::map<std::string, size_t> first;
        for (uint32_t i = 0; i < 10000; ++i) {
            const uint32_t address = htonl(0x0A000000 + i * 7);
            const VersionAnswer answer = told.For(address);
            ASSERT_TRUE(answer.Version() == 9 || answer.Version() == 8);
            newest += answer.Version() == 9;
            if (answer.Version() == 9) {
                ASSERT_EQ(wider.For(address).Version(), 9u);
            }
            ASSERT_EQ(answer.EncodeWithSeed(1), told.For(address).EncodeWithSeed(1));
            const auto& order = answer.Servers();
            const size_t start = size_t(order[0].port - 1);
            for (size_t k = 0; k < servers.size(); ++k)
                ASSERT_EQ(order[k], servers[(start + k) % servers.size()]);
            ++first[order[0].host];
        }
        EXPECT_NEAR(double(newest), percent * 100.0, 300) << percent;
        for (const auto& [host, count] : first) EXPECT_NEAR(double(count), 2500, 250) << host;
    }
}

// Options as an operator types them, the words split at blanks; nothing
// when they are refused.
std::optional<ServerConfig> Accepted(const std::string& line) {
    std::istringstream in("game_server " + line);
    std::vector<std::string> words{std::istream_iterator<std::string>(in), {}};
    std::vector<const char*> args;
    for (const std::string& word : words) args.push_back(word.c_str());
    ServerConfig config;
    std::string error;
    if (!ParseArguments(int(args.size()), args.data(), &config, &error)) return std::nullopt;
    return ValidateConfig(config, &error) ? std::optional<ServerConfig>(config) : std::nullopt;
}

TEST(GameServer, GoodConfigurationIsTakenAndBadIsRefused) {
    std::optional<ServerConfig> config =
        Accepted("--announce 4294967295 --patch-server b.example:2 --patch-server 10.1.2.3:9");
    ASSERT_TRUE(config);
    EXPECT_EQ(config->version, 4294967295u);
    EXPECT_EQ(config->port, 11677);
    EXPECT_EQ(config->rateLimit, 10u);
    EXPECT_EQ(config->patchServers,
              (std::vector<ListedPatchServer>{{"b.example", 2}, {"10.1.2.3", 9}}));
    std::string host99(99, 'h');
    config = Accepted("--port 0 --bind 0.0.0.0 --announce 0 --rate-limit 0 --patch-server " +
                      host99 + ":1");
    ASSERT_TRUE(config && config->rateLimit == 0);
    config = Accepted("--announce 9 --rollout 30 --previous-version 8");
    ASSERT_TRUE(config && config->rolloutPercent == 30 && config->previousVersion == 8);
    EXPECT_FALSE(Accepted("--port 1"));  // no version
    for (const std::string& bad : std::vector<std::string>{
             "--announce", "--announce 4294967296", "--announce -1", "--announce 7x", "--version 4",
             "--port 65536", "--rate-limit -1", "--frobnicate 1", "--patch-server nohost",
             "--patch-server h:0", "--patch-server h:70000", "--patch-server :1",
             "--patch-server " + host99 + "h:1", "--config /nonexistent/game_server.conf",
             "--rollout 30", "--rollout 101", "--rollout 30 --previous-version x",
             "--metrics localhost:9100"})
        EXPECT_FALSE(Accepted("--announce 1 " + bad)) << bad;
    // 12 bytes ahead of the list and 5 per one-letter server: 13,102 fit
    // the 65,523 bytes of one message, 13,103 do not.
    std::string error;
    config->patchServers.assign(13102, ListedPatchServer{"h", 1});
    EXPECT_TRUE(ValidateConfig(*config, &error));
    config->patchServers.push_back(ListedPatchServer{"h", 1});
    EXPECT_FALSE(ValidateConfig(*config, &error));
    EXPECT_TRUE(ParseConfigText("# a\r\n\r\n version 8 \r\npatch-server\ta:1\n", &*config, &error));
    EXPECT_FALSE(ParseConfigText("version 1\nport 5\n", &*config, &error));
    EXPECT_FALSE(ParseConfigText("patch-server x\n", &*config, &error));
}

}  // namespace

// Both servers' metrics pages, scraped once after a little traffic and read
// by the Prometheus client library's own text parser; the game server
// taking its config file again on SIGHUP.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>

#include "packet/kvn_packet.h"
#include "server_process.h"

namespace {

namespace fs = std::filesystem;

// Every sample the parser finds, as "name{label=value} count"; the parser
// throws, and so nothing is returned, on a page not in the text format.
const char kParse[] = R"(
import sys
from prometheus_client.parser import text_string_to_metric_families
for family in text_string_to_metric_families(sys.stdin.read()):
    for s in family.samples:
        labels = ",".join("%s=%s" % item for item in sorted(s.labels.items()))
        print("%s{%s} %d" % (s.name, labels, s.value))
)";

std::set<std::string> Samples(const std::string& page) {
    const fs::path file = fs::temp_directory_path() / ("mrl_metrics_" + std::to_string(getpid()));
    std::ofstream(file, std::ios::binary) << page;
    const fs::path script = file.string() + ".py";
    std::ofstream(script) << kParse;
    std::set<std::string> samples;
    // Debian's interpreter, where python3-prometheus-client installs.
    FILE* parser =
        popen(("/usr/bin/python3 " + script.string() + " < " + file.string()).c_str(), "r");
    char line[512];
    while (parser && fgets(line, sizeof line, parser)) {
        std::string sample = line;
        sample.pop_back();
        samples.insert(sample);
    }
    if (!parser || pclose(parser) != 0) ADD_FAILURE() << "the parser refused the page:\n" << page;
    fs::remove(file);
    fs::remove(script);
    return samples;
}

sockaddr_in Loopback(uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

int Connect(uint16_t port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    timeval timeout{10, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    sockaddr_in address = Loopback(port);
    EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    return fd;
}

std::string ReadAll(int fd, size_t most) {
    std::string bytes;
    char chunk[4096];
    ssize_t n;
    while (bytes.size() < most &&
           (n = recv(fd, chunk, std::min(sizeof chunk, most - bytes.size()), 0)) > 0)
        bytes.append(chunk, size_t(n));
    return bytes;
}

// The body of GET /metrics.
std::string Scrape(uint16_t port) {
    int fd = Connect(port);
    const std::string request = "GET /metrics HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n";
    send(fd, request.data(), request.size(), 0);
    std::string response = ReadAll(fd, 1 << 20);
    close(fd);
    size_t body = response.find("\r\n\r\n");
    EXPECT_EQ(response.compare(0, 12, "HTTP/1.1 200"), 0) << response;
    return body == std::string::npos ? "" : response.substr(body + 4);
}

uint16_t MetricsPort(ServerProcess& server) {
    std::string line = server.WaitForLine("metrics on port");
    return line.empty() ? 0 : uint16_t(std::stoul(line.substr(line.rfind(' ') + 1)));
}

std::string U32(uint32_t v) { return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)}; }

// One download from offset 0, one refused version, the downloader still
// connected.
TEST(PatchServerMetrics, CountDownloadsBytesAndRefusals) {
    char pattern[] = "/tmp/mrl_metrics_XXXXXX";
    ASSERT_TRUE(mkdtemp(pattern));
    const fs::path dir = pattern;
    std::ofstream(dir / "1to2.rtp", std::ios::binary) << std::string(1000, 'p');
    std::ofstream(dir / "manifest.txt") << "1 2 1to2.rtp\n";
    ServerProcess server;
    ASSERT_TRUE(server.Start(PATCH_SERVER_PATH, {"--catalogue", dir.string(), "--port", "0",
                                                 "--metrics", "127.0.0.1:0"}));
    const uint16_t port = server.ListeningPort();
    const uint16_t metrics = MetricsPort(server);
    ASSERT_TRUE(port && metrics);
    int download = Connect(port);
    send(download, (U32(1) + U32(0)).data(), 8, 0);
    EXPECT_EQ(ReadAll(download, 1 + 18 + 1000).size(), 1019u);  // greeting, header, file
    int refused = Connect(port);
    send(refused, U32(5).data(), 4, 0);
    EXPECT_EQ(ReadAll(refused, 100).size(), 1u + 7u);  // greeting, refusal, closed
    close(refused);
    EXPECT_EQ(
        Samples(Scrape(metrics)),
        (std::set<std::string>{
            "patch_server_downloads_started_total{} 1", "patch_server_downloads_resumed_total{} 0",
            "patch_server_downloads_completed_total{} 1", "patch_server_sent_bytes_total{} 1000",
            "patch_server_refusals_total{reason=no_patch} 1",
            "patch_server_refusals_total{reason=server_full} 0",
            "patch_server_refusals_total{reason=per_address} 0",
            "patch_server_accept_backoffs_total{} 0", "patch_server_catalogue_reloads_total{} 0",
            "patch_server_clients_connected{} 1"}));
    close(download);
    fs::remove_all(dir);
}

// A damaged message, then a version question from one address; once its
// answer is in, both are counted.
TEST(GameServerMetrics, CountAnswersAndWhatWasIgnored) {
    ServerProcess server;
    ASSERT_TRUE(server.Start(GAME_SERVER_PATH, {"--announce", "9", "--patch-server", "p:1", "--port",
                                                "0", "--metrics", "127.0.0.1:0"}));
    const uint16_t port = server.ListeningPort();
    const uint16_t metrics = MetricsPort(server);
    ASSERT_TRUE(port && metrics);
    int player = socket(AF_INET, SOCK_DGRAM, 0);
    timeval timeout{10, 0};
    setsockopt(player, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    sockaddr_in to = Loopback(port);
    // An unreliable datagram: flags 0, total length, sequence, message id
    // (little-endian), then message 65 under cipher seed 1, or its damage.
    for (uint8_t sequence : {1, 2}) {
        const uint8_t datagram[] = {0, 0,    18,  0, sequence,
                                    0, 0,    0,   1, 0,
                                    0, 0,    1,   0, uint8_t(sequence == 1 ? 0x42 : 0x41),
                                    0, 0x92, 0xF2};
        sendto(player, datagram, sizeof datagram, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    }
    char answer[1024];
    EXPECT_GT(recv(player, answer, sizeof answer, 0), 12);
    close(player);
    EXPECT_EQ(
        Samples(Scrape(metrics)),
        (std::set<std::string>{
            "game_server_answers_total{} 1", "game_server_rate_limited_total{} 0",
            "game_server_ignored_total{reason=too_short} 0",
            "game_server_ignored_total{reason=bad_checksum} 1",
            "game_server_ignored_total{reason=other_message} 0", "game_server_reloads_total{} 0"}));
}

// The version a game server at `port` announces to a player on 127.0.0.1,
// 0 when no answer comes.
uint32_t AskVersion(uint16_t port, uint8_t sequence) {
    int player = socket(AF_INET, SOCK_DGRAM, 0);
    timeval timeout{10, 0};
    setsockopt(player, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    sockaddr_in to = Loopback(port);
    const uint8_t question[] = {0, 0, 18, 0, sequence, 0,    0, 0,    1,
                                0, 0, 0,  1, 0,        0x41, 0, 0x92, 0xF2};
    sendto(player, question, sizeof question, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    uint8_t answer[1024];
    ssize_t n = recv(player, answer, sizeof answer, 0);
    close(player);
    KVNPacket packet;
    if (n < 12 + 10 || !packet.SetBuffer(answer + 12, int(n - 12)) || !packet.DecryptPacket())
        return 0;
    const uint8_t* version = answer + 12 + 4 + 2;  // behind the cipher header and the id
    return uint32_t(version[0]) << 24 | uint32_t(version[1]) << 16 | uint32_t(version[2]) << 8 |
           version[3];
}

// A bad file leaves the last configuration in place; a good one is taken.
TEST(GameServerProcess, TakesItsConfigFileAgainOnSighup) {
    const fs::path config = fs::temp_directory_path() / ("mrl_game_" + std::to_string(getpid()));
    std::ofstream(config) << "version 7\npatch-server p:1\n";
    ServerProcess server;
    ASSERT_TRUE(server.Start(GAME_SERVER_PATH, {"--config", config.string(), "--port", "0"}));
    const uint16_t port = server.ListeningPort();
    ASSERT_NE(port, 0);
    EXPECT_EQ(AskVersion(port, 1), 7u);
    std::ofstream(config) << "version 8\nrollout 50\n";  // no previous version
    kill(server.Pid(), SIGHUP);
    EXPECT_NE(server.WaitForLine("config not reloaded"), "");
    std::ofstream(config) << "version 8\npatch-server p:1\n";
    kill(server.Pid(), SIGHUP);
    EXPECT_NE(server.WaitForLine("config reloaded"), "");
    EXPECT_EQ(AskVersion(port, 2), 8u);
    fs::remove(config);
}

}  // namespace

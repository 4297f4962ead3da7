// bench_fleet: how a game server spreads players over a fleet of patch
// servers. Starts four reference patch servers and one game server on
// loopback; each simulated player (its own address in 127/8) asks the game
// server for the version, acknowledges the answer, then tries the patch
// servers in the order it was given, as the updater does, until one greets
// it, and downloads the step while holding its connection. Run twice: every
// server with room for all, then one server that fills early. Prints a table
// per run. Not a test: it measures.
//
//   bench_fleet [--players 2000] [--small-server-places 200]
#include <arpa/inet.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "packet/kvn_packet.h"

namespace {

namespace fs = std::filesystem;
constexpr size_t kServers = 4;
constexpr size_t kPatchBytes = 64 * 1024;

// Players whose first question went unanswered (asked again).
size_t askedAgain = 0;

struct Child {
    pid_t pid = -1;
    uint16_t port = 0;
};

// Starts a server and reads the port from its "listening on A:P" line.
Child Spawn(const std::vector<std::string>& args) {
    int out[2];
    if (pipe(out) != 0) return {};
    Child child;
    child.pid = fork();
    if (child.pid == 0) {
        dup2(out[1], 1);
        close(out[0]);
        std::vector<char*> argv;
        for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    FILE* log = fdopen(out[0], "r");
    char line[512] = {};
    unsigned port = 0;
    if (fgets(line, sizeof line, log) && sscanf(line, "listening on %*[0-9.]:%u", &port) == 1)
        child.port = uint16_t(port);
    // The rest of the log is not read: send it nowhere.
    if (fork() == 0) {
        while (fgets(line, sizeof line, log)) {
        }
        _exit(0);
    }
    fclose(log);
    return child;
}

void Stop(const Child& child) {
    if (child.pid <= 0) return;
    kill(child.pid, SIGTERM);
    waitpid(child.pid, nullptr, 0);
}

sockaddr_in Address(uint32_t host, uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(host);
    return address;
}

uint32_t PlayerAddress(size_t i) {
    return 0x7F010000u + uint32_t(i / 250) * 256 + uint32_t(i % 250) + 1;
}

uint16_t Big16(const uint8_t* at) { return uint16_t(at[0] << 8 | at[1]); }

// The ports of the patch servers the game server names, in its order; empty
// when no answer came. The engine keeps at most 1024 askers of the last 15 s,
// so a question is asked again every half second for up to a minute.
std::vector<uint16_t> AskGameServer(uint32_t player, uint16_t gamePort) {
    std::vector<uint16_t> ports;
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in from = Address(player, 0), to = Address(0x7F000001u, gamePort);
    bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from);
    timeval wait{0, 500000};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    // Unreliable datagram 1 carrying message 65 under cipher seed 1.
    const uint8_t question[] = {0, 0, 18, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0x41, 0, 0x92, 0xF2};
    uint8_t answer[1024];
    for (int tries = 0; tries < 120 && ports.empty(); ++tries) {
        if (tries == 1) ++askedAgain;
        sendto(fd, question, sizeof question, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
        ssize_t n = recv(fd, answer, sizeof answer, 0);
        if (n < 12 + 12) continue;
        // Acknowledge it: flags 1, its sequence.
        uint8_t ack[12] = {0, 1, 0, 0, answer[4], answer[5], answer[6], answer[7], 0, 0, 0, 0};
        sendto(fd, ack, sizeof ack, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
        KVNPacket packet;
        if (!packet.SetBuffer(answer + 12, int(n - 12)) || !packet.DecryptPacket()) continue;
        // Body after the 4-byte cipher header: id, version, count, entries.
        const uint8_t* body = answer + 12 + 4;
        const uint8_t* end = answer + n;
        size_t count = Big16(body + 6);
        const uint8_t* at = body + 8;
        for (size_t k = 0; k < count && at + 4 <= end; ++k) {
            ports.push_back(Big16(at));
            at += 4 + Big16(at + 2);
        }
    }
    close(fd);
    return ports;
}

bool ReadExactly(int fd, uint8_t* into, size_t n) {
    for (size_t got = 0; got < n;) {
        ssize_t part = recv(fd, into + got, n - got, 0);
        if (part <= 0) return false;
        got += size_t(part);
    }
    return true;
}

// Greeted by the patch server at `port` and given the whole step: the
// connection stays open (the caller closes it); -1 when refused.
int Download(uint32_t player, uint16_t port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in from = Address(player, 0), to = Address(0x7F000001u, port);
    timeval wait{10, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    uint8_t first = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0 ||
        connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0 ||
        !ReadExactly(fd, &first, 1) || first == 0) {
        close(fd);
        return -1;
    }
    const uint8_t request[] = {0, 0, 0, 1, 0, 0, 0, 0};  // version 1, offset 0
    send(fd, request, sizeof request, 0);
    std::vector<uint8_t> bytes(10 + 8 + kPatchBytes);  // header with "1to2.rtp", the file
    if (!ReadExactly(fd, bytes.data(), bytes.size())) {
        close(fd);
        return -1;
    }
    return fd;
}

struct Outcome {
    size_t firstChoice = 0;      // the server heading its list
    size_t servedBy = kServers;  // kServers: nobody
};

std::vector<Outcome> RunPlayers(size_t players, const std::vector<Child>& patch,
                                uint16_t gamePort) {
    std::vector<Outcome> outcomes(players);
    std::vector<int> held;
    for (size_t i = 0; i < players; ++i) {
        std::vector<uint16_t> order = AskGameServer(PlayerAddress(i), gamePort);
        auto index = [&](uint16_t port) {
            for (size_t s = 0; s < kServers; ++s)
                if (patch[s].port == port) return s;
            return kServers;
        };
        if (order.empty()) continue;
        outcomes[i].firstChoice = index(order[0]);
        for (uint16_t port : order) {
            int fd = Download(PlayerAddress(i), port);
            if (fd < 0) continue;
            held.push_back(fd);
            outcomes[i].servedBy = index(port);
            break;
        }
    }
    for (int fd : held) close(fd);
    return outcomes;
}

void Report(const char* title, const std::vector<Outcome>& outcomes,
            const std::vector<size_t>& places) {
    std::printf("\n%s\n\n", title);
    std::printf(
        "| server | places | first choice of | served | share | refused first-choice players "
        "served here |\n");
    std::printf("|---|---|---|---|---|---|\n");
    std::vector<size_t> first(kServers + 1), served(kServers + 1), overflow(kServers + 1);
    for (const Outcome& outcome : outcomes) {
        ++first[outcome.firstChoice];
        ++served[outcome.servedBy];
        if (outcome.servedBy != outcome.firstChoice) ++overflow[outcome.servedBy];
    }
    for (size_t s = 0; s < kServers; ++s)
        std::printf("| %zu | %zu | %zu | %zu | %.1f %% | %zu |\n", s + 1, places[s], first[s],
                    served[s], 100.0 * double(served[s]) / double(outcomes.size()), overflow[s]);
    std::printf("| none | | | %zu | %.1f %% | |\n", served[kServers],
                100.0 * double(served[kServers]) / double(outcomes.size()));
    std::printf("\n%zu players had to ask the game server again\n", askedAgain);
    askedAgain = 0;
}

std::vector<Outcome> RunFleet(const fs::path& catalogue, size_t players,
                              const std::vector<size_t>& places) {
    std::vector<Child> patch;
    for (size_t s = 0; s < kServers; ++s)
        patch.push_back(
            Spawn({PATCH_SERVER_PATH, "--catalogue", catalogue.string(), "--port", "0",
                   "--max-clients", std::to_string(places[s]), "--max-per-address", "0"}));
    std::vector<std::string> game = {GAME_SERVER_PATH, "--announce", "2", "--port", "0"};
    for (const Child& child : patch) {
        game.push_back("--patch-server");
        game.push_back("127.0.0.1:" + std::to_string(child.port));
    }
    Child gameServer = Spawn(game);
    std::vector<Outcome> outcomes = RunPlayers(players, patch, gameServer.port);
    Stop(gameServer);
    for (const Child& child : patch) Stop(child);
    return outcomes;
}

}  // namespace

int main(int argc, char** argv) {
    size_t players = 2000, smallPlaces = 200;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string option = argv[i];
        if (option == "--players")
            players = std::strtoul(argv[i + 1], nullptr, 10);
        else if (option == "--small-server-places")
            smallPlaces = std::strtoul(argv[i + 1], nullptr, 10);
        else {
            std::fprintf(stderr, "usage: bench_fleet [--players N] [--small-server-places N]\n");
            return 2;
        }
    }
    if (players == 0 || players > 60000) return 2;
    signal(SIGPIPE, SIG_IGN);
    rlimit limit;
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
    fs::path dir = fs::temp_directory_path() / ("mrl_bench_fleet_" + std::to_string(getpid()));
    fs::create_directories(dir);
    std::ofstream(dir / "1to2.rtp", std::ios::binary) << std::string(kPatchBytes, 'p');
    std::ofstream(dir / "manifest.txt") << "1 2 1to2.rtp\n";

    auto start = std::chrono::steady_clock::now();
    Report(("Every server with room for all " + std::to_string(players) + " players").c_str(),
           RunFleet(dir, players, std::vector<size_t>(kServers, players)),
           std::vector<size_t>(kServers, players));
    std::vector<size_t> places(kServers, players);
    places[0] = smallPlaces;
    Report(("Server 1 full after " + std::to_string(smallPlaces) + " players").c_str(),
           RunFleet(dir, players, places), places);
    std::printf("\n%zu players per run, %.1f s in all\n", players,
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    fs::remove_all(dir);
    return 0;
}

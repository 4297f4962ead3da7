// Benchmarks of the patch link (not tests; see README):
//   bench_patchlink receiver [BYTES]        one download through the receiver
//   bench_patchlink server [CLIENTS] [BYTES] aggregate throughput of the
//                                            reference patch server
// Both start the reference patch server on loopback with a catalogue of one
// generated file.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "run/download_state.h"
#include "run/patch_server_list.h"
#include "run/server_choice.h"
#include "patchlink/patch_receiver.h"
#include "patchlink/stream_connection.h"
#include "patchlink/wire_order.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kExchangePace = 2500.0 / 0.010;  // one 2500-byte read per 10 ms pause
const char kName[] = "p7to8.rtp";

struct Server {
    pid_t pid = -1;
    uint16_t port = 0;
    std::string dir;
};

Server StartServer(size_t bytes, unsigned maxClients) {
    Server server;
    char pattern[] = "/tmp/mrl_bench_XXXXXX";
    server.dir = mkdtemp(pattern);
    {
        std::ofstream file(server.dir + "/" + kName, std::ios::binary);
        std::vector<char> block(65536);
        for (size_t i = 0; i < block.size(); ++i) block[i] = char(i * 31 + i / 256);
        for (size_t left = bytes; left > 0;) {
            size_t n = std::min(left, block.size());
            file.write(block.data(), std::streamsize(n));
            left -= n;
        }
        std::ofstream(server.dir + "/manifest.txt") << "7 8 " << kName << "\n";
    }
    int out[2];
    if (pipe(out) != 0) std::exit(1);
    server.pid = fork();
    if (server.pid == 0) {
        dup2(out[1], 1);
        std::string clients = std::to_string(maxClients);
        execl(PATCH_SERVER_PATH, "patch_server", "--catalogue", server.dir.c_str(), "--port", "0",
              "--max-clients", clients.c_str(), "--max-per-address", "0", "--idle-seconds", "600",
              nullptr);
        _exit(127);
    }
    close(out[1]);
    // The first line names the port; the per-client log lines that follow
    // are drained by a thread so that the server never blocks on them.
    FILE* log = fdopen(out[0], "r");
    char line[256] = {};
    unsigned port = 0;
    if (!fgets(line, sizeof line, log) || sscanf(line, "listening on 127.0.0.1:%u", &port) != 1) {
        std::fprintf(stderr, "patch server did not start\n");
        std::exit(1);
    }
    server.port = uint16_t(port);
    std::thread([log] {
        char rest[512];
        while (fgets(rest, sizeof rest, log)) {
        }
    }).detach();
    return server;
}

void StopServer(const Server& server) {
    kill(server.pid, SIGTERM);
    waitpid(server.pid, nullptr, 0);
    std::string remove = "rm -rf '" + server.dir + "'";
    if (std::system(remove.c_str()) != 0)
        std::fprintf(stderr, "cannot remove %s\n", server.dir.c_str());
}

// Natively nothing shows the step.
class QuietView : public ReceiverView {
public:
    void ShowProgress() override {}
    void ShowShortOfSpace() override {}
};

int BenchReceiver(size_t bytes) {
    Server server = StartServer(bytes, 4);
    char pattern[] = "/tmp/mrl_bench_install_XXXXXX";
    std::string install = mkdtemp(pattern);
    if (chdir(install.c_str()) != 0) return 1;

    run::downloadStep.Begin();
    StreamConnection connection;
    connection.SetHost("127.0.0.1");
    connection.SetPort(server.port);
    connection.SetSocketType(1);
    connection.SetWaitModes(true, true);
    if (connection.Connect() != 1) return 1;
    QuietView view;
    PatchReceiver receiver(connection, view);
    if (!receiver.Start()) return 1;
    while (!run::downloadStep.Answered()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    uint8_t request[4];
    patchwire::WriteU32(request, 7);
    Clock::time_point start = Clock::now();
    connection.Send(request, 4);
    while (!run::downloadStep.IsStopped()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    receiver.Join();
    connection.Close();
    bool complete = run::downloadStep.Complete() && run::patchBytesReceived == bytes;
    double rate = double(bytes) / seconds;
    std::printf("receiver: %zu bytes in %.2f s = %.0f B/s; exchange pace %.0f B/s; ratio %.2f%s\n",
                bytes, seconds, rate, kExchangePace, rate / kExchangePace,
                complete ? "" : " (INCOMPLETE)");
    StopServer(server);
    std::string remove = "rm -rf '" + install + "'";
    if (std::system(remove.c_str()) != 0)
        std::fprintf(stderr, "cannot remove %s\n", install.c_str());
    return complete ? 0 : 1;
}

struct Client {
    int fd = -1;
    int stage = 0;  // 0 greeting, 1 header, 2 data, 3 done
    size_t need = 1;
    size_t got = 0;
};

int BenchServer(unsigned clients, size_t bytes) {
    rlimit limit;
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
    Server server = StartServer(bytes, clients);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(server.port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const size_t headerSize = 10 + std::strlen(kName);

    Clock::time_point start = Clock::now();
    int epoll = epoll_create1(0);
    std::vector<Client> all(clients);
    for (unsigned i = 0; i < clients; ++i) {
        Client& c = all[i];
        c.fd = socket(AF_INET, SOCK_STREAM, 0);
        if (c.fd < 0 || connect(c.fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            std::fprintf(stderr, "connect %u failed: %s\n", i, std::strerror(errno));
            return 1;
        }
        fcntl(c.fd, F_SETFL, O_NONBLOCK);
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.u32 = i;
        epoll_ctl(epoll, EPOLL_CTL_ADD, c.fd, &event);
    }
    unsigned done = 0;
    uint64_t total = 0;
    std::vector<char> buffer(1 << 16);
    std::vector<epoll_event> events(256);
    while (done < clients) {
        int n = epoll_wait(epoll, events.data(), int(events.size()), 5000);
        if (n <= 0) {
            std::fprintf(stderr, "stalled with %u of %u clients done\n", done, clients);
            return 1;
        }
        for (int e = 0; e < n; ++e) {
            Client& c = all[events[size_t(e)].data.u32];
            ssize_t r = recv(c.fd, buffer.data(), std::min(buffer.size(), c.need - c.got), 0);
            if (r <= 0) continue;
            c.got += size_t(r);
            if (c.stage == 2) total += uint64_t(r);
            if (c.got < c.need) continue;
            c.got = 0;
            uint8_t message[4];
            if (c.stage == 0) {
                patchwire::WriteU32(message, 7);  // the version request
                send(c.fd, message, 4, 0);
                c.need = headerSize;
            } else if (c.stage == 1) {
                patchwire::WriteU32(message, 0);  // resume offset 0
                send(c.fd, message, 4, 0);
                c.need = bytes;
            } else {
                close(c.fd);
                ++done;
            }
            ++c.stage;
        }
    }
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("server: %u clients x %zu bytes = %.1f MB in %.2f s = %.1f MB/s aggregate\n",
                clients, bytes, double(total) / 1e6, seconds, double(total) / 1e6 / seconds);
    close(epoll);
    StopServer(server);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string mode = argc > 1 ? argv[1] : "";
    signal(SIGPIPE, SIG_IGN);
    if (mode == "receiver")
        return BenchReceiver(argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 2500000);
    if (mode == "server")
        return BenchServer(argc > 2 ? unsigned(std::strtoul(argv[2], nullptr, 10)) : 1000,
                           argc > 3 ? std::strtoul(argv[3], nullptr, 10) : 1000000);
    std::fprintf(stderr,
                 "usage: bench_patchlink receiver [BYTES]        (default 2500000)\n"
                 "       bench_patchlink server [CLIENTS] [BYTES] (default 1000 1000000)\n");
    return 2;
}

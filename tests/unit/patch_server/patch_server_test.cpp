// The reference patch server as a process: it rests while out of
// descriptors, closes refused clients at once, and takes a new release
// while the downloads in flight finish from the files they opened.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <thread>

#include "release.h"
#include "server_process.h"

namespace {

namespace fs = std::filesystem;

std::string U32(uint32_t v) { return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)}; }

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string Noise(uint32_t seed, size_t size) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) c = char(random());
    return bytes;
}

class PatchServerProcess : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/mrl_patch_server_XXXXXX";
        ASSERT_TRUE(mkdtemp(pattern));
        dir_ = pattern;
    }
    void TearDown() override { fs::remove_all(dir_); }

    // A client of the server from 127.0.0.1; every read waits 10 s at most.
    int Dial(int receiveBuffer = 0) {
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        timeval timeout{10, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        if (receiveBuffer)
            setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port_);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        return fd;
    }
    // `n` bytes, fewer when the connection ends or a read times out.
    static std::string Read(int fd, size_t n) {
        std::string bytes(n, '\0');
        size_t got = 0;
        while (got < n) {
            ssize_t part = recv(fd, &bytes[got], n - got, 0);
            if (part <= 0) break;
            got += size_t(part);
        }
        bytes.resize(got);
        return bytes;
    }
    // True when the server closed the connection (not a read timeout).
    static bool ClosedByServer(int fd) {
        char c;
        return recv(fd, &c, 1, 0) == 0;
    }
    void StartServer(const std::vector<std::string>& options, rlim_t fileLimit = 0) {
        std::vector<std::string> args = {"--catalogue", catalogue_.string(), "--port", "0"};
        args.insert(args.end(), options.begin(), options.end());
        ASSERT_TRUE(server_.Start(PATCH_SERVER_PATH, args, fileLimit));
        port_ = server_.ListeningPort();
        ASSERT_NE(port_, 0);
    }
    size_t OpenDescriptors() const {
        fs::path fds = "/proc/" + std::to_string(server_.Pid()) + "/fd";
        return size_t(std::distance(fs::directory_iterator(fds), fs::directory_iterator()));
    }

    fs::path dir_;
    fs::path catalogue_ = "";
    ServerProcess server_;
    uint16_t port_ = 0;
};

class SmallCatalogue : public PatchServerProcess {
protected:
    void SetUp() override {
        PatchServerProcess::SetUp();
        catalogue_ = dir_ / "catalogue";
        WriteFile(catalogue_ / "1to2.rtp", Noise(1, 1000));
        WriteFile(catalogue_ / "manifest.txt", "1 2 1to2.rtp\n");
    }
};

// A level-triggered listener whose accept fails would be ready again at
// once: the server spun at most of a core for as long as the clients stayed.
TEST_F(SmallCatalogue, RestsWhileOutOfDescriptorsAndServesWhenTheyComeBack) {
    StartServer({"--max-clients", "100", "--max-per-address", "0"}, 16);
    std::vector<int> waiting;
    for (int i = 0; i < 30; ++i) waiting.push_back(Dial());
    ASSERT_NE(server_.WaitForLine("cannot accept"), "");
    const long before = server_.CpuTicks();
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const long used = server_.CpuTicks() - before;
    EXPECT_LT(used, sysconf(_SC_CLK_TCK) / 5) << "CPU ticks in 2 s";  // under a tenth
    for (int fd : waiting) close(fd);
    int next = Dial();
    EXPECT_EQ(Read(next, 1), "\x01");  // greeted once descriptors are free
    close(next);
}

// Refused clients neither hold a place nor a descriptor: each gets its
// refusal and the end of the connection, while it still holds its end.
TEST_F(SmallCatalogue, ARefusedClientIsClosedOnceItsRefusalIsSent) {
    StartServer({"--max-clients", "2", "--max-per-address", "0", "--max-connections", "4"});
    const size_t idle = OpenDescriptors();
    std::vector<int> served = {Dial(), Dial()};
    for (int fd : served) ASSERT_EQ(Read(fd, 1), "\x01");
    std::vector<int> refused;
    for (int i = 0; i < 40; ++i) refused.push_back(Dial());
    for (int i = 0; i < 40; ++i) ASSERT_NE(server_.WaitForLine("refused: server full"), "");
    EXPECT_LE(OpenDescriptors(), idle + 4);
    for (int fd : refused) {
        EXPECT_EQ(Read(fd, 7), U32(0) + '\x02' + std::string(2, '\0'));
        EXPECT_TRUE(ClosedByServer(fd));
        close(fd);
    }
    for (int fd : served) close(fd);
}

// Open connections are capped whatever becomes of them: one beyond the cap
// waits in the backlog, neither greeted nor refused, until another goes.
TEST_F(SmallCatalogue, AConnectionBeyondTheCapWaitsUntilOneGoes) {
    StartServer({"--max-clients", "5", "--max-per-address", "0", "--max-connections", "2"});
    int first = Dial(), second = Dial();
    for (int fd : {first, second}) ASSERT_EQ(Read(fd, 1), "\x01");
    int third = Dial();
    pollfd waiting{third, POLLIN, 0};
    EXPECT_EQ(poll(&waiting, 1, 300), 0);
    close(first);
    EXPECT_EQ(Read(third, 1), "\x01");
    for (int fd : {second, third}) close(fd);
}

class LiveRelease : public PatchServerProcess {
protected:
    void SetUp() override {
        PatchServerProcess::SetUp();
        catalogue_ = dir_ / "catalogue";
    }
    // Version v's tree adds an incompressible file of its own (seeded by
    // seeds[v - 1]) to the one before it: every upgrade is bigger than what
    // the sockets between the server and a client buffer, and quick to build.
    void Release(const std::vector<uint32_t>& seeds, uint32_t direct) {
        fs::remove_all(dir_ / "trees");
        for (uint32_t v = 1; v <= seeds.size(); ++v)
            for (uint32_t added = 1; added <= v; ++added)
                WriteFile(dir_ / "trees" / std::to_string(v) / ("data" + std::to_string(added)),
                          Noise(seeds[added - 1], added == 1 ? 1000 : 6 << 20));
        ASSERT_TRUE(release::BuildRelease(dir_ / "trees", catalogue_, {2, direct, {}, nullptr}).ok);
    }
    // Greeting, version 1, the step's header and the resume offset 0.
    int AskForVersion1(std::string* name, int receiveBuffer = 0) {
        int fd = Dial(receiveBuffer);
        EXPECT_EQ(Read(fd, 1), "\x01");
        send(fd, U32(1).data(), 4, 0);
        std::string header = Read(fd, 10);
        EXPECT_EQ(header.size(), 10u);
        *name = Read(fd, size_t(uint8_t(header[8])) << 8 | uint8_t(header[9]));
        send(fd, U32(0).data(), 4, 0);
        return fd;
    }
};

// 20 downloads of 1to2 are in flight when a new release (2 cut again, and
// 3) is built into the served directory and the server told. They finish
// with the bytes they started with; the next client gets the new release.
TEST_F(LiveRelease, DownloadsInFlightFinishAndTheNextClientGetsTheNewRelease) {
    Release({1, 2}, 0);
    const std::string oldStep = ReadFile(catalogue_ / "1to2.rtp");
    StartServer({"--max-per-address", "0"});
    std::vector<int> downloads;
    for (int i = 0; i < 20; ++i) {
        std::string name;
        downloads.push_back(AskForVersion1(&name, 8192));
        ASSERT_EQ(name, "1to2.rtp");
        ASSERT_EQ(Read(downloads.back(), 65536), oldStep.substr(0, 65536));
    }
    Release({1, 3, 4}, 2);
    ASSERT_NE(ReadFile(catalogue_ / "1to2.rtp"), oldStep);
    kill(server_.Pid(), SIGHUP);
    ASSERT_NE(server_.WaitForLine("catalogue reloaded"), "");
    for (int fd : downloads) {
        EXPECT_TRUE(Read(fd, oldStep.size() - 65536) == oldStep.substr(65536));
        close(fd);
    }
    std::string name;
    int next = AskForVersion1(&name);
    EXPECT_EQ(name, "1to3.rtp");
    const std::string newStep = ReadFile(catalogue_ / "1to3.rtp");
    EXPECT_TRUE(Read(next, newStep.size()) == newStep);
    close(next);
}

}  // namespace

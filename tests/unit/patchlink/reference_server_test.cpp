// The reference patch server on loopback: the receiver's thread fetches one
// step from it into a real file, and raw clients see its refusals.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <chrono>
#include <thread>

#include "patchlink/patch_receiver.h"
#include "patchlink/stream_connection.h"
#include "run/download_state.h"
#include "wire_bytes.h"

namespace {

// Natively nothing shows the step.
class QuietView : public ReceiverView {
public:
    void ShowProgress() override {}
    void ShowShortOfSpace() override {}
};

std::string Content() {
    std::string bytes(40000, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = char(i * 7 + i / 251);
    return bytes;
}

class ReferenceServer : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/mrl_receiver_XXXXXX";
        ASSERT_TRUE(mkdtemp(pattern) && getcwd(oldDir_, sizeof oldDir_) && chdir(pattern) == 0);
        dir_ = pattern;
        ASSERT_EQ(mkdir("catalogue", 0755), 0);
        for (const char* name : {"p7to8.rtp", "p7to10.rtp", "p7to9.rtp", "notes.txt"})
            std::ofstream(std::string("catalogue/") + name, std::ios::binary) << Content();
        // Version 7 has a direct step beside the chain, listed between two others.
        std::ofstream("catalogue/manifest.txt")
            << "7 8 p7to8.rtp\n7 10 p7to10.rtp\n7 9 p7to9.rtp\n8 9 notes.txt\n";
        int out[2];
        ASSERT_EQ(pipe(out), 0);
        server_ = fork();
        if (server_ == 0) {
            dup2(out[1], 1);
            execl(PATCH_SERVER_PATH, "patch_server", "--catalogue", "catalogue", "--port", "0",
                  "--max-clients", "3", "--max-per-address", "2", "--alternative",
                  "a.example:11680", "--alternative", "10.0.0.1:7", nullptr);
            _exit(127);
        }
        close(out[1]);
        log_ = fdopen(out[0], "r");
        char line[256] = {};
        ASSERT_TRUE(fgets(line, sizeof line, log_));
        ASSERT_EQ(sscanf(line, "listening on 127.0.0.1:%hu", &port_), 1) << line;
    }
    void TearDown() override {
        kill(server_, SIGTERM);
        waitpid(server_, nullptr, 0);
        if (log_) fclose(log_);
        if (chdir(oldDir_) != 0 || std::system(("rm -rf " + dir_).c_str()) != 0)
            ADD_FAILURE() << "cannot remove " << dir_;
    }

    // A client from `from` (any address of 127/8 reaches the loopback).
    int Dial(const char* from = "127.0.0.1") {
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        inet_pton(AF_INET, from, &address.sin_addr);
        EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        address.sin_port = htons(port_);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        timeval timeout{5, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        return fd;
    }
    static std::string Read(int fd, size_t n) {
        std::string bytes(n, '\0');
        ssize_t got = recv(fd, &bytes[0], n, MSG_WAITALL);
        bytes.resize(got > 0 ? size_t(got) : 0);
        return bytes;
    }
    // A greeting is one byte; a refusal starts with a zero byte.
    static bool Greeted(int fd) {
        std::string first = Read(fd, 1);
        return first.size() == 1 && first[0] != '\0';
    }

    char oldDir_[4096] = {};
    std::string dir_;
    pid_t server_ = -1;
    FILE* log_ = nullptr;
    uint16_t port_ = 0;
};

// A program patch resumes from the partial file; a data file ("t" or "x")
// found locally is replaced whole. The server hands out the step that goes
// furthest, and the receiver takes its target version from the header.
TEST_F(ReferenceServer, OneStepPerThreadIntoARealFile) {
    const std::string whole = Content();
    const struct {
        uint32_t installed, target;
        const char* name;
        std::string local;
    } steps[] = {{7, 10, "p7to10.rtp", whole.substr(0, 12345)},
                 {8, 9, "notes.txt", std::string(99, 'x')}};
    for (const auto& step : steps) {
        std::ofstream(step.name, std::ios::binary) << step.local;
        run::downloadStep.Settle();
        run::downloadStep.Begin();
        StreamConnection connection;
        connection.SetHost("127.0.0.1");
        connection.SetPort(port_);
        connection.SetSocketType(1);
        connection.SetWaitModes(true, true);
        ASSERT_EQ(connection.Connect(), 1);
        QuietView view;
        PatchReceiver receiver(connection, view);
        ASSERT_TRUE(receiver.Start());
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!run::downloadStep.Answered() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ASSERT_TRUE(run::downloadStep.Answered()) << "no greeting within 10 s";
        connection.Send(U32(step.installed).data(), 4);
        receiver.Join();
        connection.Close();
        EXPECT_TRUE(run::downloadStep.Complete()) << step.name;
        EXPECT_EQ(run::workingVersion, step.target);
        EXPECT_EQ(run::patchTargetVersion, step.target);
        std::ifstream in(step.name, std::ios::binary);
        EXPECT_TRUE(std::string(std::istreambuf_iterator<char>(in), {}) == whole) << step.name;
    }
}

// Three places, two per address.
TEST_F(ReferenceServer, RefusesWithTheReasonAndTheAlternativesInOrder) {
    const std::string alternatives =
        U16(2) + U16(11680) + U16(9) + "a.example" + U16(7) + U16(8) + "10.0.0.1";
    int first = Dial();
    EXPECT_TRUE(Greeted(first));
    send(first, U32(3).data(), 4, 0);
    const size_t size = 5 + alternatives.size();
    EXPECT_EQ(Read(first, size), U32(0) + '\1' + alternatives);  // no step for version 3
    // The server closed it with its refusal: its place is free again.
    int second = Dial();
    EXPECT_TRUE(Greeted(second));
    int fourth = Dial();
    EXPECT_TRUE(Greeted(fourth));
    int third = Dial();
    EXPECT_EQ(Read(third, size), U32(0) + '\2' + alternatives);  // its address has two
    int other = Dial("127.0.0.2");
    EXPECT_TRUE(Greeted(other));  // the last place
    int full = Dial("127.0.0.3");
    EXPECT_EQ(Read(full, size), U32(0) + '\2' + alternatives);
    for (int fd : {first, second, fourth, third, other, full}) close(fd);
    // Places come free as clients go, the address's too.
    bool greeted = false;
    for (int tries = 0; tries < 100 && !greeted; ++tries) {
        int next = Dial();
        greeted = Greeted(next);
        close(next);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_TRUE(greeted);
}

// A manifest the server cannot serve as written stops it before it listens.
TEST(ReferenceServerManifest, OneItCannotServeAsWrittenIsRefused) {
    char pattern[] = "/tmp/mrl_manifest_XXXXXX";
    ASSERT_TRUE(mkdtemp(pattern));
    const std::string dir = pattern;
    for (const char* name : {"p7to8.rtp", "p7to9.rtp", "AUX.rtp", "a b.rtp"})
        std::ofstream(dir + "/" + name) << "bytes";
    for (const char* manifest :
         {"7 8 AUX.rtp\n", "7 8 p7to8.rtp\n7 8 p7to9.rtp\n", "7 0 p7to8.rtp\n", "7 8 missing.rtp\n",
          "7 8 a b.rtp\n", "7 8 ../p7to8.rtp\n"}) {
        std::ofstream(dir + "/manifest.txt") << manifest;
        pid_t server = fork();
        if (server == 0) {
            freopen("/dev/null", "w", stdout);
            freopen("/dev/null", "w", stderr);
            execl(PATCH_SERVER_PATH, "patch_server", "--catalogue", dir.c_str(), "--port", "0",
                  nullptr);
            _exit(127);
        }
        int status = 0;
        for (int waited = 0; waitpid(server, &status, WNOHANG) == 0; ++waited) {
            if (waited == 500) kill(server, SIGKILL);  // still listening after 5 s
            usleep(10000);
        }
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << manifest;
    }
    EXPECT_EQ(std::system(("rm -rf " + dir).c_str()), 0);
}

}  // namespace

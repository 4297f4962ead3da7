// The receiver against the reference patch server: the whole exchange with
// a real server process, as the driver runs it for one step.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <thread>

#include "run/download_state.h"
#include "run/patch_server_list.h"
#include "run/server_choice.h"
#include "patchlink/patch_receiver.h"
#include "patchlink/stream_connection.h"
#include "patchlink/wire_order.h"
#include "receiver_fixture.h"

namespace {

class ReferenceServerTest : public ReceiverTest {
protected:
    void SetUp() override {
        ReceiverTest::SetUp();
        ASSERT_EQ(::mkdir("catalogue", 0755), 0);
        WriteFile("catalogue/p7to8.rtp", Content(40000, 5));
        std::ofstream("catalogue/manifest.txt") << "# from to file\n7 8 p7to8.rtp\n";
        StartServer();
    }
    void TearDown() override {
        ReceiverTest::TearDown();
        if (server_ > 0) {
            ::kill(server_, SIGTERM);
            ::waitpid(server_, nullptr, 0);
        }
        if (output_) ::fclose(output_);
    }

    void StartServer() {
        int pipeFds[2];
        ASSERT_EQ(::pipe(pipeFds), 0);
        server_ = ::fork();
        if (server_ == 0) {
            ::dup2(pipeFds[1], 1);
            ::execl(PATCH_SERVER_PATH, "patch_server", "--catalogue", "catalogue", "--port", "0",
                    "--alternative", "second.example:11680", nullptr);
            ::_exit(127);
        }
        ::close(pipeFds[1]);
        output_ = ::fdopen(pipeFds[0], "r");
        char line[256] = {};
        ASSERT_TRUE(std::fgets(line, sizeof line, output_)) << "server did not start";
        unsigned port = 0;
        ASSERT_EQ(std::sscanf(line, "listening on 127.0.0.1:%u", &port), 1) << line;
        port_ = uint16_t(port);
    }

    void RunStep(uint32_t installed) {
        patchConnection.SetHost("127.0.0.1");
        patchConnection.SetPort(port_);
        patchConnection.SetSocketType(1);
        patchConnection.SetWaitModes(true, true);
        ASSERT_EQ(patchConnection.Connect(), 1);
        std::thread receiver(PatchReceiverThread, nullptr);
        ASSERT_TRUE(WaitUntil([] { return run::downloadReady.load() != 0; }));
        if (!run::downloadFailed) {
            uint8_t request[4];
            patchwire::WriteU32(request, installed);
            SendToPatchServer(request, 4);
        }
        ASSERT_TRUE(WaitUntil([] { return run::receiverRunning.load() == 0 && run::doneFlag; }));
        receiver.join();
        patchConnection.Close();
    }

    std::string ServerLogLine() {
        char line[256] = {};
        return std::fgets(line, sizeof line, output_) ? line : "";
    }

    pid_t server_ = -1;
    FILE* output_ = nullptr;
    uint16_t port_ = 0;
};

TEST_F(ReferenceServerTest, PartialFileIsResumedToTheByte) {
    Bytes whole = Content(40000, 5);
    WriteFile("p7to8.rtp", Bytes(whole.begin(), whole.begin() + 12345));
    RunStep(7);
    EXPECT_EQ(run::downloadComplete, 1);
    EXPECT_EQ(run::workingVersion, 8u);
    EXPECT_TRUE(FileContent("p7to8.rtp") == std::string(whole.begin(), whole.end()));
    EXPECT_NE(ServerLogLine().find("p7to8.rtp from 12345, 27655 bytes sent"), std::string::npos);
}

TEST_F(ReferenceServerTest, UnknownVersionIsRefusedWithTheAlternatives) {
    RunStep(99);
    EXPECT_EQ(run::downloadFailed, 1);
    EXPECT_EQ(run::downloadComplete, 0);
    EXPECT_EQ(run::workingVersion, 0u);
    auto list = TakeServerList();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].first, 11680);
    EXPECT_EQ(list[0].second, "second.example");
}

}  // namespace

// The game server with its engine on loopback: the delivery thread answers
// and counts but writes nothing; the log is written by WriteLog alone, and
// what was ignored is summed up once a second has passed.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "game_server.h"

namespace {

std::string Contents(std::FILE* file) {
    std::fflush(file);
    std::rewind(file);
    std::string text;
    for (int c; (c = std::fgetc(file)) != EOF;) text += char(c);
    return text;
}

TEST(GameServerLog, IsWrittenByWriteLogAloneWithASummaryOfWhatWasIgnored) {
    std::FILE* log = std::tmpfile();
    ASSERT_TRUE(log);
    {
        GameServer server(RequestHandler(Announcement(9, 0, 100, {{"p", 1}}), 0), log);
        std::string error;
        ASSERT_TRUE(server.Start("127.0.0.1", 0, &error)) << error;
        int player = socket(AF_INET, SOCK_DGRAM, 0);
        timeval timeout{10, 0};
        setsockopt(player, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(server.Port());
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        // Unreliable datagrams 1 to 3: twice message 65 damaged, then intact
        // (cipher seed 1). The answer comes after all three are handled.
        for (uint8_t sequence : {1, 2, 3}) {
            const uint8_t damage = sequence < 3 ? 1 : 0;
            const uint8_t datagram[] = {
                0, 0,    18,  0, sequence, 0, 0, 0, 1, 0, 0, 0, 1, 0, uint8_t(0x41 + damage),
                0, 0x92, 0xF2};
            sendto(player, datagram, sizeof datagram, 0, reinterpret_cast<sockaddr*>(&to),
                   sizeof to);
        }
        char answer[1024];
        ASSERT_GT(recv(player, answer, sizeof answer, 0), 12);
        close(player);
        EXPECT_EQ(Contents(log), "");
        EXPECT_EQ(server.Stats().badChecksum, 2u);
        std::this_thread::sleep_for(std::chrono::milliseconds(1100));
        server.WriteLog();
    }
    const std::string text = Contents(log);
    std::fclose(log);
    EXPECT_NE(text.find("message 65 answered: version 9, 1 patch server: p:1\n"), std::string::npos)
        << text;
    EXPECT_NE(text.find(": 2 ignored for a bad checksum\n"), std::string::npos) << text;
}

}  // namespace

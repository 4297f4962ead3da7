// The whole server over loopback: the updater's own game link asks and
// reads the answer; a raw peer checks what travels and what is ignored.
#include "game_server.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <regex>
#include <thread>

#include "answer_reader.h"
#include "gamelink/game_link.h"
#include "wire.h"

namespace {

using Server = std::pair<std::string, uint16_t>;

// The server's log: a temporary file read back once the server stopped.
class LogFile {
public:
    LogFile() : file(std::tmpfile()) {}
    ~LogFile() { std::fclose(file); }
    std::FILE* Handle() const { return file; }
    std::vector<std::string> Lines() const {
        std::rewind(file);
        std::vector<std::string> lines;
        char line[512];
        while (std::fgets(line, sizeof line, file)) {
            std::string text = line;
            if (!text.empty() && text.back() == '\n') text.pop_back();
            lines.push_back(text);
        }
        return lines;
    }

private:
    std::FILE* file;
};

KVNPacket* AwaitMessage(int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    KVNPacket* packet = nullptr;
    while (!gameLink.GetNextMessage(&packet)) {
        if (std::chrono::steady_clock::now() > deadline) return nullptr;
        std::this_thread::sleep_for(std::chrono::milliseconds(15));
    }
    return packet;
}

TEST(GameServerLoopback, TheGameLinkAsksAndReadsVersionAndPatchServers) {
    LogFile log;
    {
        GameServer server(RequestHandler(VersionAnswer(
                              0x80000001u, {{"patch.example", 11679}, {"127.0.0.1", 65535}})),
                          log.Handle());
        std::string error;
        ASSERT_TRUE(server.Start("127.0.0.1", 0, &error)) << error;
        ASSERT_NE(server.Port(), 0);
        GameServer second(RequestHandler(VersionAnswer(1, {})), nullptr);
        EXPECT_FALSE(second.Start("127.0.0.1", 0, &error)) << "one server per process";

        gameLink.Shutdown();
        gameLink.SetHost("127.0.0.1");
        gameLink.SetPort(server.Port());
        ASSERT_EQ(gameLink.Init(OnDatagram), 1);
        KVNPacket request;
        request << short(65);
        gameLink.Send(&request);

        KVNPacket* answer = AwaitMessage(5000);
        ASSERT_NE(answer, nullptr);
        // Read as the updater reads it.
        short id = 0;
        unsigned long version = 0;
        unsigned short count = 0;
        answer->Seek(0, 0);
        answer->Get(&id);
        answer->Get(&version);
        answer->Get(&count);
        std::vector<Server> servers;
        for (unsigned short i = 0; i < count; ++i) {
            unsigned short port = 0;
            short length = 0;
            answer->Get(&port);
            answer->Get(&length);
            std::string host;
            for (short c = 0; c < length; ++c) {
                char character = 0;
                answer->Get(&character);
                host += character;
            }
            servers.emplace_back(host, port);
        }
        EXPECT_EQ(id, 65);
        EXPECT_EQ(uint32_t(version), 0x80000001u);
        EXPECT_EQ(servers, (std::vector<Server>{{"patch.example", 11679}, {"127.0.0.1", 65535}}));
        EXPECT_EQ(answer->GetPosition(), answer->GetLimit()) << "nothing after the list";
        delete answer;
        EXPECT_EQ(server.Answered(), 1u);

        uint16_t linkPort = ntohs(gameLink.LocalAddress()->sin_port);
        gameLink.Shutdown();
        std::vector<std::string> lines = log.Lines();
        ASSERT_EQ(lines.size(), 1u);
        std::regex expected(
            "\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ 127\\.0\\.0\\.1:" +
            std::to_string(linkPort) +
            " message 65 answered: version 2147483649, 2 patch servers: patch.example:11679 "
            "127\\.0\\.0\\.1:65535");
        EXPECT_TRUE(std::regex_match(lines[0], expected)) << lines[0];
    }
    GameServer later(RequestHandler(VersionAnswer(1, {})), nullptr);
    std::string error;
    EXPECT_FALSE(later.Start("10.255.255.254", 0, &error)) << "not an address of this machine";
    EXPECT_NE(error.find("cannot listen on 10.255.255.254:0"), std::string::npos) << error;
}

TEST(GameServerLoopback, AnswersReliablyToTheSenderAndIgnoresOtherMessages) {
    LogFile log;
    {
        GameServer server(RequestHandler(VersionAnswer(5, {{"p", 7}})), log.Handle());
        std::string error;
        ASSERT_TRUE(server.Start("127.0.0.1", 0, &error)) << error;
        sockaddr_in serverAddress = Loopback(htons(server.Port()));
        RawPeer client;
        auto request = [](const Bytes& body, uint32_t sequence) {
            Bytes message = EncipherBody(body, 9);
            return Datagram(0, 0x02, uint16_t(message.size() + 12), sequence, 0, message);
        };
        Bytes damaged = request({0x00, 0x41}, 2);
        damaged[12 + 5] ^= 0x40;
        client.SendTo(serverAddress, request({0x00, 0x42}, 1));
        client.SendTo(serverAddress, damaged);
        // Each is acknowledged (the engine does that) and nothing else comes.
        std::vector<Bytes> received = client.ReceiveAll(300);
        ASSERT_EQ(received.size(), 2u);
        for (const Bytes& datagram : received) EXPECT_EQ(datagram[1], 0x01);

        client.SendTo(serverAddress, request({0x00, 0x41}, 3));
        received = client.ReceiveAll(300);
        ASSERT_EQ(received.size(), 2u);
        const Bytes& answer = received[0][1] == 0x01 ? received[1] : received[0];
        EXPECT_EQ(answer[1], 0x02) << "the answer is sent reliably";
        Bytes body;
        ASSERT_TRUE(DecipherMessage(PayloadOf(answer), &body));
        ReadAnswer read;
        ASSERT_TRUE(ReadAnswerBody(body, &read));
        EXPECT_EQ(read.version, 5u);
        EXPECT_EQ(read.servers, (std::vector<Server>{{"p", 7}}));
        client.SendTo(serverAddress, AckFor(SequenceOf(answer)));
        EXPECT_EQ(server.Answered(), 1u);
    }
    std::vector<std::string> lines = log.Lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_NE(lines[0].find(" ignored: message 66"), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find(" ignored: bad checksum"), std::string::npos) << lines[1];
    EXPECT_NE(lines[2].find(" message 65 answered: version 5, 1 patch server: p:7"),
              std::string::npos)
        << lines[2];
}

}  // namespace

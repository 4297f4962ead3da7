// What the server answers and what it ignores, fed enciphered requests
// built by hand.
#include "request_handler.h"

#include <gtest/gtest.h>

#include "answer_reader.h"

namespace {

RequestHandler::Outcome Feed(const RequestHandler& handler, const Bytes& message) {
    return handler.Handle(message.data(), int32_t(message.size()));
}

class RequestHandlerTest : public ::testing::Test {
protected:
    RequestHandler handler{VersionAnswer(12, {{"p.example", 11679}, {"127.0.0.1", 11680}})};
};

TEST_F(RequestHandlerTest, MessageSixtyFiveGetsTheConfiguredAnswer) {
    // With or without bytes after the id: the id alone decides.
    for (const Bytes& body : {Bytes{0x00, 0x41}, Bytes{0x00, 0x41, 0x12, 0x34}}) {
        Bytes request = EncipherBody(body, 77);
        RequestHandler::Outcome outcome = Feed(handler, request);
        ASSERT_TRUE(outcome.answered);
        Bytes answerBody;
        ASSERT_TRUE(DecipherMessage(outcome.answer, &answerBody));
        ReadAnswer read;
        ASSERT_TRUE(ReadAnswerBody(answerBody, &read));
        EXPECT_EQ(read.id, 65);
        EXPECT_EQ(read.version, 12u);
        ASSERT_EQ(read.servers.size(), 2u);
        EXPECT_EQ(read.servers[1], (std::pair<std::string, uint16_t>{"127.0.0.1", 11680}));
        EXPECT_EQ(
            outcome.note,
            "message 65 answered: version 12, 2 patch servers: p.example:11679 127.0.0.1:11680");
    }
}

TEST_F(RequestHandlerTest, DamagedForeignAndShortMessagesAreIgnoredWithAReason) {
    Bytes damaged = EncipherBody({0x00, 0x41}, 5);
    damaged[5] ^= 0x01;
    RequestHandler::Outcome outcome = Feed(handler, damaged);
    EXPECT_FALSE(outcome.answered);
    EXPECT_TRUE(outcome.answer.empty());
    EXPECT_EQ(outcome.note, "ignored: bad checksum");

    outcome = Feed(handler, EncipherBody({0x00, 0x42}, 5));
    EXPECT_FALSE(outcome.answered);
    EXPECT_EQ(outcome.note, "ignored: message 66");
    // Id 65 in the wrong byte order is another message.
    outcome = Feed(handler, EncipherBody({0x41, 0x00}, 5));
    EXPECT_FALSE(outcome.answered);
    EXPECT_EQ(outcome.note, "ignored: message 16640");

    for (size_t size : {0u, 4u, 5u}) {
        Bytes shortMessage(size, 0);
        outcome = Feed(handler, shortMessage);
        EXPECT_FALSE(outcome.answered);
        EXPECT_EQ(outcome.note,
                  "ignored: " + std::to_string(size) + " bytes, too short for a message");
    }
}

TEST(RequestHandlerDescribe, NamesAFewServersOnly) {
    std::vector<ListedPatchServer> many(10, ListedPatchServer{"h", 1});
    EXPECT_EQ(RequestHandler(VersionAnswer(3, {})).Describe(), "version 3, 0 patch servers");
    EXPECT_EQ(RequestHandler(VersionAnswer(3, {{"h", 1}})).Describe(),
              "version 3, 1 patch server: h:1");
    EXPECT_EQ(RequestHandler(VersionAnswer(3, many)).Describe(),
              "version 3, 10 patch servers: h:1 h:1 h:1 h:1 h:1 h:1 h:1 h:1 ...");
}

}  // namespace

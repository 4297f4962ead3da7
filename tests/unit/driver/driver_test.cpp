// The driver's decisions, each shown by what a fault in it would change in
// a run (the requests sent, the servers tried, what is recorded, the box and
// the exit code), and what it reads from outside.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "driver/install_files.h"
#include "driver/run_decisions.h"
#include "driver/server_answer.h"
#include "driver/silent_mode.h"
#include "packet/kvn_packet.h"

namespace {

using Strings = std::vector<std::string>;

// The exit code, then the box of the end.
std::string Ending(RunEnd end) {
    const EndOfRun how = EndOf(end);
    return std::to_string(int(how.exitCode)) +
           (how.textNumber ? " text " + std::to_string(how.textNumber) : "") +
           (how.literal ? " fixed text" : "") + (how.closeSearching ? ", searching closed" : "");
}

// Polls every 10 ms, the tick wrapping on the way, until the wait is over;
// the answer comes at the poll of request `answerAt` (0: never). The number
// of requests, and whether the attempt counts as answered.
std::pair<size_t, bool> Requests(bool linkUp, size_t answerAt) {
    VersionQuestions questions(linkUp);
    std::vector<uint32_t> sent;
    for (uint32_t now = 0xFFFFF000u, last = 0; !questions.Over(); now += 10) {
        if (questions.RequestDue(now, last)) sent.push_back(last = now);
        if (sent.size() == answerAt) questions.AnswerRead();
    }
    for (size_t i = 1; i < sent.size(); ++i) EXPECT_EQ(sent[i] - sent[i - 1], 1010u);
    return {sent.size(), questions.Answered()};
}

TEST(Discovery, ARequestASecondSixteenAtMostTheLastOneTooLateForAnAnswer) {
    EXPECT_EQ(Requests(true, 0), std::make_pair(size_t(16), false));
    EXPECT_EQ(Requests(true, 15), std::make_pair(size_t(15), true));
    EXPECT_EQ(Requests(true, 16), std::make_pair(size_t(16), false));
    EXPECT_EQ(Requests(false, 0), std::make_pair(size_t(1), false));  // the link is down
}

TEST(Discovery, TheAnnouncedVersionDecidesWhatFollows) {
    EXPECT_EQ(DecideAfterAttempt(true, 5, 5), AfterAttempt::kUpToDate);
    EXPECT_EQ(DecideAfterAttempt(true, 0x80000000u, 5), AfterAttempt::kFetch);
    EXPECT_EQ(DecideAfterAttempt(true, 4, 5), AfterAttempt::kDowngrade);
    EXPECT_EQ(DecideAfterAttempt(false, 4, 5), AfterAttempt::kUnreachable);
    EXPECT_EQ(DecideAfterAttempt(false, 5, 0xFFFFFFFFu), AfterAttempt::kVersionUnknown);
    EXPECT_EQ(Ending(RunEnd::kUpToDate), "232");
}

// Unanswered: the dialog again (silent mode too), or 234 by "Keeper's Word".
TEST(Discovery, AnUnansweredServerBringsTheDialogBackOrKeepersWordEndsTheRun) {
    EXPECT_FALSE(EndWhenUnreachable(0));
    EXPECT_EQ(Ending(*EndWhenUnreachable(2)), "234");
}

TEST(Discovery, AnAddressWithoutAPortTakes11677) {
    EXPECT_EQ(SplitAddress("game.example:", kGameServerPort).port, 11677);
}

// Three listed servers, ports 1 to 3; the one of port `accepting` accepts.
// Where each attempt went, the server connected, how many are left listed.
std::string Connections(const std::optional<Endpoint>& proxy, int accepting) {
    PatchServerList list;
    for (uint16_t port = 1; port <= 3; ++port)
        list.Append(std::make_unique<PatchServerEntry>(PatchServerEntry{port, "s"}));
    std::string tried;
    auto connected =
        ConnectToListed(list, proxy, [&](const PatchServerEntry& entry, const Endpoint& to) {
            tried += to.host + ":" + std::to_string(to.port) + " ";
            return entry.port == accepting;
        });
    return tried + "-> " + (connected ? std::to_string(connected->port) : "none") + ", " +
           std::to_string(list.Count()) + " left";
}

TEST(Connections, OneEntryAnAttemptThroughTheProxyIfItHasAnAddressNoneDroppedUnused) {
    EXPECT_EQ(Connections(std::nullopt, 2), "s:1 s:2 -> 2, 1 left");
    EXPECT_EQ(Connections(std::nullopt, 0), "s:1 s:2 s:3 -> none, 0 left");
    EXPECT_EQ(Connections(FirstConnectionProxy(1, "proxy"), 3),
              "proxy:11679 proxy:11679 proxy:11679 -> 3, 0 left");
    EXPECT_EQ(Connections(FirstConnectionProxy(1, "proxy:3128"), 1), "proxy:3128 -> 1, 2 left");
    EXPECT_FALSE(FirstConnectionProxy(0, "proxy:3128"));
    EXPECT_FALSE(FirstConnectionProxy(1, ""));  // silent mode: no address asked for
    EXPECT_EQ(FirstConnectionProxy(1, std::string(150, 'p'))->host, std::string(99, 'p'));
}

TEST(Connections, ElevenFallbacksAreAllowedTheTwelfthEndsWith233) {
    for (int made = 0; made <= 12; ++made) EXPECT_EQ(FallbackAllowed(true, made), made < 11);
    EXPECT_FALSE(FallbackAllowed(false, 0));
    EXPECT_EQ(Ending(RunEnd::kNoPatchServer), "233 text 85, searching closed");
    // A receiver that stopped without a greeting counts as a refusal.
    EXPECT_EQ(GreetingState(false, false, false), Greeting::kWaiting);
    EXPECT_EQ(GreetingState(true, false, false), Greeting::kGreeted);
    EXPECT_EQ(GreetingState(true, true, false), Greeting::kRefused);
    EXPECT_EQ(GreetingState(false, false, true), Greeting::kRefused);
}

TEST(Application, TheNameAndTheLibraryDecideAndEachHandlingRecordsItsStep) {
    for (const char* name : {"NOTES.TXT", "a.x"}) EXPECT_EQ(KindOfFile(name), FileKind::kDataFile);
    EXPECT_EQ(KindOfFile("FIX.E"), FileKind::kProgram);
    for (const char* name : {"3to4.rtp", ""}) EXPECT_EQ(KindOfFile(name), FileKind::kLibraryPatch);
    // A keyed library: only signed patches change the install.
    using H = Handling;
    for (auto [kind, keyless, keyed] : {std::tuple{FileKind::kDataFile, H::kKeep, H::kRefuse},
                                        {FileKind::kProgram, H::kStart, H::kRefuse},
                                        {FileKind::kLibraryPatch, H::kApply, H::kApply}}) {
        EXPECT_EQ(HandlingOf(kind, false), keyless) << int(kind);
        EXPECT_EQ(HandlingOf(kind, true), keyed) << int(kind);
    }
    // The server announced 9, 3 is installed, the step leads to `target`.
    for (auto [handling, done, target, expected] :
         {std::tuple{H::kKeep, true, 9u, "record 9, installed 9, working 9"},
          {H::kStart, true, 4u, "record 4, installed 3, working 4, 234"},
          {H::kStart, false, 4u, "installed 3, working 4"},
          {H::kApply, true, 4u, "record 4, installed 4, working 4"},
          {H::kApply, true, 9u, "record 9, installed 9, working 9, release notes"},
          {H::kApply, false, 4u, "installed 3, working 3, deleted"},
          {H::kRefuse, false, 9u, "installed 3, working 3"}}) {
        const AfterApplying after = AfterApplication(handling, done, {9, 3, target, target});
        std::string seen = after.record ? "record " + std::to_string(*after.record) + ", " : "";
        seen += "installed " + std::to_string(after.installed);
        seen += ", working " + std::to_string(after.working);
        if (after.openReleaseNotes) seen += ", release notes";
        if (after.deleteFile) seen += ", deleted";
        if (after.end) seen += ", " + Ending(*after.end);
        EXPECT_EQ(seen, expected) << int(handling) << done << target;
    }
    StepFailures failures;  // the third failure in a row ends the run
    for (auto [before, after] : {std::pair{3, 3}, {3, 3}, {3, 4}, {4, 4}, {4, 4}})
        EXPECT_FALSE(failures.Count(before, after));
    EXPECT_TRUE(failures.Count(4, 4));
    EXPECT_EQ(Ending(RunEnd::kStepKeepsFailing), "234");
}

// An install with downgrade files: the programs that start, and how often
// the library rejects a command line before it applies it.
struct Downgrade {
    std::set<std::string> programs;
    std::map<std::string, int> rejections;
    Strings calls;

    // The versions recorded, then how the run ends.
    std::string Run(uint32_t server, uint32_t installed) {
        std::string recorded;
        DowngradeActions actions;
        actions.beginStep = [this] { calls.push_back("open"); };
        actions.endStep = [this] { calls.push_back("close"); };
        actions.startProgram = [this](const std::string& name) {
            calls.push_back(name);
            return programs.count(name) > 0;
        };
        actions.library = [this](const std::string& commandLine) {
            calls.push_back(commandLine);
            return rejections[commandLine]-- > 0 ? 1 : 0;
        };
        actions.record = [&](uint32_t version) { recorded += std::to_string(version) + " "; };
        const RunEnd end = RunDowngradeSteps(server, installed, actions);
        return recorded + "-> " + Ending(end);
    }
};

TEST(Downgrade, StepsAreRecordedOneByOneFiveAtMostAProgramTakesOver) {
    Downgrade twoSteps;
    twoSteps.rejections["12to11.rtp -u"] = 1;  // the second call applies it
    EXPECT_EQ(twoSteps.Run(10, 12), "11 10 -> 1");
    EXPECT_EQ(twoSteps.calls, (Strings{"open", "12to11.exe", "12to11.rtp -u", "12to11.rtp -u",
                                       "close", "open", "11to10.exe", "11to10.rtp -u", "close"}));
    EXPECT_EQ(Downgrade().Run(10, 15), "14 13 12 11 10 -> 240 fixed text");
    EXPECT_EQ(Downgrade().Run(10, 20), "19 18 17 16 15 -> 240 fixed text");
    Downgrade program;
    program.programs = {"11to10.exe"};
    EXPECT_EQ(program.Run(8, 12), "11 10 -> 234");
    Downgrade bad;
    bad.rejections["11to10.rtp -u"] = 2;
    EXPECT_EQ(bad.Run(8, 12), "11 -> 234 text 94, searching closed");
}

// A deciphered message: four header bytes, then the body, most significant
// byte first: id 65, the version 7, the count, and per server its port, the
// length of its name and the name.
std::vector<unsigned char> Answer(uint16_t count, const std::vector<std::string>& hosts) {
    std::vector<unsigned char> bytes = {
        0, 0, 0, 0, 0, 65, 0, 0, 0, 7, uint8_t(count >> 8), uint8_t(count)};
    for (const std::string& host : hosts) {
        bytes.insert(bytes.end(), {0x2D, 0x9F, uint8_t(host.size() >> 8), uint8_t(host.size())});
        bytes.insert(bytes.end(), host.begin(), host.end());
    }
    return bytes;
}

std::optional<ServerAnswer> Read(std::vector<unsigned char> bytes, size_t cut = 0) {
    KVNPacket packet;
    packet.SetBuffer(bytes.data(), int(bytes.size() - cut));
    return ReadServerAnswer(packet);
}

TEST(ServerAnswer, VersionAndServersInTheirOrderTheCountUnsigned) {
    auto answer = Read(Answer(2, {"patch.example", "10.0.0.5"}));
    ASSERT_TRUE(answer && answer->servers.size() == 2);
    EXPECT_EQ(answer->version, 7u);
    EXPECT_EQ(answer->servers[0]->host + answer->servers[1]->host, "patch.example10.0.0.5");
    EXPECT_EQ(answer->servers[1]->port, 11679);
    EXPECT_EQ(Read(Answer(40000, std::vector<std::string>(40000)))->servers.size(), 40000u);
    std::vector<unsigned char> other = Answer(0, {});
    other[5] = 66;
    EXPECT_FALSE(Read(other));
}

TEST(ServerAnswer, ACutAnswerOrANegativeNameLengthIsDroppedWhole) {
    const std::vector<unsigned char> full = Answer(2, {"first", "second"});
    for (size_t cut = 1; cut < full.size(); ++cut) EXPECT_FALSE(Read(full, cut)) << cut;
    EXPECT_FALSE(Read(Answer(1, {std::string(0xFFFF, 'h')})));  // a length of -1
}

TEST(StartupInputs, SilentModeAndTheVersionFile) {
    EXPECT_TRUE(IsSilentCommandLine("Amber Kite"));
    for (const char* other : {"", "Amber Kite ", " Amber Kite", "amber kite", "\"Amber Kite\""})
        EXPECT_FALSE(IsSilentCommandLine(other)) << '[' << other << ']';
    EXPECT_FALSE(IsSilentCommandLine(nullptr));

    const char* path = "mrl-version-test.txt";
    const char* texts[] = {"12\r\n", "  42 build 7", "123456789", "v12", "", "-1"};
    const uint32_t versions[] = {12, 42, 12345678, 0, 0, 0xFFFFFFFFu};
    for (int i = 0; i < 6; ++i) {
        std::ofstream(path, std::ios::binary) << texts[i];
        EXPECT_EQ(ReadVersionFile(path), versions[i]) << texts[i];
    }
    std::remove(path);
    EXPECT_FALSE(ReadVersionFile(path));
}

}  // namespace

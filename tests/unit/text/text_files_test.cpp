// The install's text files: the text table "Language.Txt" (with the check
// that keeps its formats from reading arguments that were not passed), the
// server list "ServerList.Txt", and what the server selection dialog shows
// and keeps, driven as the player's actions drive it.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "run/server_choice.h"
#include "text/default_texts.h"
#include "text/language_file.h"
#include "text/message_format.h"
#include "ui/server_dialog_model.h"
#include "text/server_table.h"
#include "text/startup_texts.h"

namespace {

using Strings = std::vector<std::string>;

// Each test process works in a fresh temporary directory of its own.
void EnterScratchDir() {
    static const struct Scratch {
        std::filesystem::path path = std::filesystem::temp_directory_path() /
                                     ("mrl-text-" + std::to_string(std::random_device()()));
        Scratch() { std::filesystem::create_directory(path), std::filesystem::current_path(path); }
        ~Scratch() { std::filesystem::remove_all(path); }
    } scratch;
}

void WriteFile(const std::string& name, const std::string& bytes) {
    EnterScratchDir();
    std::ofstream(name, std::ios::binary) << bytes;
}

void Open(const std::string& contents) {
    CloseLanguageFile();
    WriteFile("Language.Txt", contents);
    ASSERT_TRUE(OpenLanguageFile());
}

TEST(LanguageFile, TextsAreTheLinesThatAreNeitherCommentsNorBlank) {
    Open("He_llo_\r\n* comment\r\n\r\n\n  * indented\r\n___\r\nab\rcd\r\nbare_lf\nlast_line");
    const char* expected[] = {"Hello", "  * indented", "", "ab", "barelf", "lastline"};
    for (int n = 1; n <= 6; ++n) EXPECT_STREQ(GetLanguageText(n), expected[n - 1]) << n;
}

TEST(LanguageFile, LinesAreReadIn4999ByteParts) {
    Open(std::string(4999, 'a') + "\n" + std::string(4999, 'b') + "c\r\nnext\r\n");
    EXPECT_EQ(GetLanguageText(1), std::string(4999, 'a'));  // its LF then reads as a blank line
    EXPECT_EQ(GetLanguageText(2), std::string(4999, 'b'));
    EXPECT_STREQ(GetLanguageText(3), "c");
    EXPECT_STREQ(GetLanguageText(4), "next");
}

TEST(LanguageFile, NumbersOutsideTheTableEndTheLookup) {
    Open("one\r\n*\r\nlast_one");
    EXPECT_STREQ(GetLanguageText(INT_MAX), "lastone");
    EXPECT_STREQ(GetLanguageText(0), "");
    for (const char* ending : {"one\r\ntwo\r\n* the end\r\n", "one\r\n\r\n", ""}) {
        Open(ending);
        EXPECT_STREQ(GetLanguageText(3), "") << ending;
    }
    CloseLanguageFile();
}

TEST(LanguageFile, WithoutTheFileTheBuiltInTextsSpeak) {
    EnterScratchDir();
    std::remove("Language.Txt");
    ASSERT_FALSE(OpenLanguageFile());
    EXPECT_STREQ(GetLanguageText(85), GetDefaultLanguageText(85));
    ASSERT_TRUE(WriteDefaultLanguageFile("Language.Txt"));
    ASSERT_TRUE(OpenLanguageFile());
    for (int n = 1; n <= text_number::kHighest; ++n) {
        const char* builtIn = GetDefaultLanguageText(n);
        EXPECT_EQ(GetLanguageText(n), builtIn ? builtIn : "Text " + std::to_string(n)) << n;
    }
    CloseLanguageFile();
}

TEST(MessageFormat, OnlyConversionsThatFitTheArgumentsInOrderAreUsed) {
    for (const char* fits : {"File %s (%s): %-8u bytes, expected %.3s", "100%% %s", "%s"})
        EXPECT_TRUE(FormatFitsArguments(fits, "ssus")) << fits;
    for (const char* refused : {"%s %s %s %s %s", "%d", "%s %s %s", "%s %s %n", "%*s", "%.*s",
                                "%1$s", "%s %s %llu", "%s %s %I64u", "%ls", "trailing %"})
        EXPECT_FALSE(FormatFitsArguments(refused, "ssus")) << refused;
    EXPECT_EQ(FormatMessageText("%s is %u", "fallback %s", "su", "a", 12u), "a is 12");
    EXPECT_EQ(FormatMessageText("%s is %s", "fallback %s", "su", "a", 12u), "fallback a");
    EXPECT_EQ(FormatMessageText("<%s>", "%s", "s", std::string(3000, 'p').c_str()).size(), 1024u);
    // The built-in texts take what their callers pass.
    for (const auto& [number, kinds] :
         {std::pair{51, ""}, {82, ""}, {85, ""}, {94, "u"}, {183, ""}, {184, "sfcfc"}, {187, "s"}})
        EXPECT_TRUE(FormatFitsArguments(GetDefaultLanguageText(number), kinds)) << number;
}

// Lookups from two threads at once (the main thread and the download
// receiver): each reads its own text, whole, and keeps it while the other
// goes on. Also run under TSan.
std::string Text(int number) { return "text " + std::to_string(number) + std::string(200, 'x'); }

TEST(LanguageFileThreads, ConcurrentLookupsEachSeeTheirOwnText) {
    std::string contents;
    for (int n = 1; n <= 300; ++n) contents += "* comment\r\n" + Text(n) + "\r\n";
    WriteFile("Language.Txt", contents);
    ASSERT_TRUE(OpenLanguageFile());
    std::atomic<int> wrong{0};
    auto lookUp = [&wrong](int number) {
        for (int round = 0; round < 300; ++round) {
            const char* text = GetLanguageText(number);
            std::this_thread::yield();
            wrong += Text(number) != text;
        }
    };
    std::thread first(lookUp, 3), second(lookUp, 297);
    first.join();
    second.join();
    CloseLanguageFile();
    EXPECT_EQ(wrong, 0);
}

std::string Record(const std::string& name, const char* end = "\n") {
    return name + end + name + ":1" + end + "patch" + end + "About" + end + "Visit" + end + "http" +
           end;
}

std::string Records(int count, const char* end = "\n") {
    std::string all;
    for (int i = 0; i < count; ++i) all += Record("s" + std::to_string(i), end);
    return all;
}

int Load(const std::string& contents) {
    WriteFile("ServerList.Txt", contents);
    return LoadServerList();
}

const ServerRecord& Slot(int i) { return run::serverTable.slots[i]; }

TEST(ServerTable, RecordsFillTheSlotsInFileOrderWithoutLineEnds) {
    for (const char* end : {"\n", "\r\n"}) {
        ASSERT_EQ(Load(Records(3, end)), 3);
        EXPECT_EQ(std::string(Slot(2).name) + Slot(2).address + Slot(2).linkTarget, "s2s2:1http");
        EXPECT_STREQ(Slot(3).name, "");
    }
    ASSERT_EQ(Load(Record("a") + "b\r\r\nhost\r\n\r\nmid\rdle\r\ncap\r\nlast"), 2);
    EXPECT_EQ(std::string(Slot(1).name) + Slot(1).description + Slot(1).linkTarget, "bmiddlelast");
}

TEST(ServerTable, LinesOver499BytesSplitAndShiftTheFields) {
    const std::string rest = Records(1).substr(3);  // the record without its name line
    ASSERT_EQ(Load(std::string(499, 'n') + "X\n" + rest), 2);
    EXPECT_EQ(Slot(0).name, std::string(499, 'n'));
    EXPECT_STREQ(Slot(0).address, "X");
    EXPECT_STREQ(Slot(1).name, "http");
    ASSERT_EQ(Load(std::string(498, 'm') + "\n" + rest), 1);  // 498 and the LF: one line
    EXPECT_STREQ(Slot(0).address, "s0:1");
}

TEST(ServerTable, TheListEndsAtARepeatedNameOrAtTheEndOfTheTable) {
    EXPECT_EQ(Load(Record("same") + Record("same") + Record("other")), 0);
    EXPECT_EQ(Load(Record("a") + Record("b") + Record("b") + Record("c")), 1);
    EXPECT_EQ(Load(Records(198)), 198);
    EXPECT_EQ(Load(Records(199)), 199);
    EXPECT_EQ(Load(Records(250)), kServerSlots);
    EXPECT_STREQ(Slot(kServerSlots - 1).name, "s199");
    EXPECT_EQ(Load(Records(199) + Record("s198")), 198);
}

TEST(ServerTable, AReloadReplacesTheTableAMissingFileKeepsItNamesMatchWhole) {
    ASSERT_EQ(Load(Records(5)), 5);
    ASSERT_EQ(Load(Record("Alpha") + Record("alpha")), 2);
    EXPECT_EQ(FindServerRecord("s3"), nullptr);
    EXPECT_EQ(FindServerRecord("alpha"), &Slot(1));
    for (const char* other : {"Alph", "Alpha "}) EXPECT_EQ(FindServerRecord(other), nullptr);
    std::remove("ServerList.Txt");
    EXPECT_EQ(LoadServerList(), -1);
    EXPECT_STREQ(Slot(0).name, "Alpha");
}

class ServerDialog : public ::testing::Test {
protected:
    void SetUp() override {
        for (int i = 0; i < kStartupTextCount; ++i)
            std::snprintf(run::startupTexts[i], kStartupTextSize, "text %d", kFirstStartupText + i);
        run::gameServerAddress[0] = run::proxyAddress[0] = '\0';
        run::proxyEnabled = run::serverChoiceLocked = 0;
        std::string list;
        for (std::string name : {"Greymoor", "Saltfen", "Reedwater"})
            list += name + "\n-\n-\nAbout " + name + "\nVisit " + name + "\nhttp://" + name + "/\n";
        WriteFile("ServerList.Txt", list);
        ASSERT_EQ(LoadServerList(), 3);
    }
    // The description, the link button's caption and target.
    std::string Shown() {
        return View().description + " | " + View().linkCaption + " | " + model.LinkTarget();
    }
    const ServerDialogView& View() { return model.View(); }
    ServerDialogModel model;
};

TEST_F(ServerDialog, EveryListedServerOnceTheFirstPreselectedUnlessAChoiceIsStored) {
    model.Open(3, 1700000000u);
    Strings listed = View().listed;
    EXPECT_EQ(View().comboText + run::gameServerAddress, listed.at(0) + listed[0]);
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(listed, (Strings{"Greymoor", "Reedwater", "Saltfen"}));
    model.Open(3, 1700086400u);  // a day later, another order; the choice stays
    EXPECT_NE(View().listed[0], run::gameServerAddress);
    EXPECT_EQ(View().comboText, run::gameServerAddress);
}

TEST_F(ServerDialog, TheViewFollowsAListedChoiceAndStaysOnAnUnknownText) {
    model.Open(3, 1);
    EXPECT_EQ(Shown(), "text 82 | text 79 | text 80");
    EXPECT_TRUE(model.ComboChanged("Saltfen"));
    EXPECT_TRUE(model.ComboChanged(""));  // text 82 in the buffer: repaint once
    EXPECT_FALSE(model.ComboChanged("saltfen"));
    EXPECT_EQ(Shown(), "About Saltfen | Visit Saltfen | http://Saltfen/");
}

TEST_F(ServerDialog, ConnectNeedsAnAddressProxyValueLocksOnlyTheChoice) {
    run::serverChoiceLocked = 1;
    model.Open(3, 1);
    EXPECT_FALSE(View().comboEnabled);
    model.ComboChanged("");
    EXPECT_FALSE(View().connectEnabled || model.Connect("", "proxy"));
    EXPECT_STRNE(run::gameServerAddress, "");
    model.ComboChanged("x");
    EXPECT_TRUE(model.Connect("x", ""));
    EXPECT_STREQ(run::gameServerAddress, "x");
    run::gameServerAddress[0] = '\0';
    model.Open(-1, 1);  // no server list: only a stored choice can be confirmed
    EXPECT_FALSE(View().connectEnabled);
    std::strcpy(run::gameServerAddress, "stored");
    model.Open(-1, 1);
    EXPECT_TRUE(View().connectEnabled);
}

TEST_F(ServerDialog, TheProxyBoxMirrorsTheFlagAndItsFieldStartsEmpty) {
    run::proxyEnabled = 1;
    std::strcpy(run::proxyAddress, "old.proxy");
    model.Open(3, 1);
    EXPECT_TRUE(View().proxyChecked && View().proxyFieldEnabled);
    model.ProxyClicked();
    EXPECT_FALSE(run::proxyEnabled || View().proxyChecked || View().proxyFieldEnabled);
    model.ProxyClicked();
    EXPECT_TRUE(run::proxyEnabled && model.Connect("Saltfen", ""));
    EXPECT_STREQ(run::proxyAddress, "");
}

TEST_F(ServerDialog, LongTextsAreCutToTheirBuffers) {
    const std::string name(300, 'n');
    std::strcpy(run::serverTable.slots[0].name, name.c_str());
    std::strcpy(run::serverTable.slots[0].linkTarget, name.c_str());
    model.Open(1, 1);
    EXPECT_EQ(run::gameServerAddress, name.substr(0, 99));
    model.ComboChanged(name);  // cut to 99 it names no server
    EXPECT_EQ(View().comboText.size() + std::strlen(model.LinkTarget()), 99u + 7u);
    std::strcpy(run::serverTable.slots[0].name, "n");
    model.ComboChanged("n");
    EXPECT_EQ(std::strlen(model.LinkTarget()), 99u);
    EXPECT_TRUE(model.Connect(std::string(150, 'a'), std::string(150, 'p')));
    EXPECT_EQ(std::strlen(run::gameServerAddress) + std::strlen(run::proxyAddress), 198u);
    std::string texts;  // text 82 of the install, longer than the description buffer
    for (int n = 1; n <= 81; ++n) texts += "t\n";
    WriteFile("Language.Txt", texts + std::string(4999, 'd'));
    ASSERT_TRUE(OpenLanguageFile());
    model.ComboChanged("unknown");
    CloseLanguageFile();
    EXPECT_EQ(std::strlen(run::startupTexts[kServerDescriptionText]), 499u);
}

TEST_F(ServerDialog, ASecondShowingStartsFromTheFirstChoice) {
    model.Open(3, 1);
    model.ComboChanged("Reedwater");
    ASSERT_TRUE(model.Connect("Reedwater", ""));
    model.Open(3, 2);
    EXPECT_EQ(View().comboText + " | " + Shown(),
              "Reedwater | About Reedwater | text 79 | text 80");
    EXPECT_EQ(View().listed.size(), 3u);
    EXPECT_FALSE(model.ComboChanged("Reedwater"));  // shown already
}

}  // namespace

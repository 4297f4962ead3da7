// Options and the config file: what an operator gets for good and for bad
// input.
#include "server_config.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

namespace {

bool Parse(std::vector<const char*> args, ServerConfig* config, std::string* error) {
    args.insert(args.begin(), "game_server");
    return ParseArguments(int(args.size()), args.data(), config, error);
}

TEST(ServerConfig, DefaultsAndRepeatedPatchServersInOrder) {
    ServerConfig config;
    std::string error;
    ASSERT_TRUE(Parse({"--version", "4294967295", "--patch-server", "b.example:2", "--patch-server",
                       "10.1.2.3:11679"},
                      &config, &error))
        << error;
    EXPECT_EQ(config.bindAddress, "127.0.0.1");
    EXPECT_EQ(config.port, 11677);
    EXPECT_EQ(config.version, 4294967295u);
    EXPECT_EQ(config.patchServers,
              (std::vector<ListedPatchServer>{{"b.example", 2}, {"10.1.2.3", 11679}}));
    EXPECT_TRUE(ValidateConfig(config, &error));

    ServerConfig other;
    ASSERT_TRUE(Parse({"--port", "0", "--bind", "0.0.0.0", "--version", "0"}, &other, &error));
    EXPECT_EQ(other.port, 0);
    EXPECT_EQ(other.bindAddress, "0.0.0.0");
    EXPECT_TRUE(ValidateConfig(other, &error)) << "version 0 and no patch servers is an answer";

    ServerConfig help;
    ASSERT_TRUE(Parse({"--port", "5", "--help"}, &help, &error));
    EXPECT_TRUE(help.help);
}

TEST(ServerConfig, BadValuesAreRefusedWithAReason) {
    const std::vector<std::vector<const char*>> bad = {
        {"--version"},                // no value
        {"--version", "4294967296"},  // beyond 32 bits
        {"--version", "-1"},
        {"--version", "7x"},
        {"--port", "65536"},
        {"--port", ""},
        {"--patch-server", "nohost"},  // no port
        {"--patch-server", "h:0"},     // port 0 reaches nobody
        {"--patch-server", "h:70000"},
        {"--patch-server", ":11679"},  // no host
        {"--patch-server", "two words:1"},
        {"--frobnicate", "1"},
        {"--config", "/nonexistent/game_server.conf"},
    };
    for (const auto& args : bad) {
        ServerConfig config;
        std::string error;
        EXPECT_FALSE(Parse(args, &config, &error)) << args[0];
        EXPECT_FALSE(error.empty()) << args[0];
    }
    std::string longHost = std::string(100, 'h') + ":1";
    std::string justFits = std::string(99, 'h') + ":1";
    ServerConfig config;
    std::string error;
    EXPECT_FALSE(Parse({"--patch-server", longHost.c_str()}, &config, &error));
    EXPECT_TRUE(Parse({"--patch-server", justFits.c_str()}, &config, &error));
    EXPECT_FALSE(ValidateConfig(config, &error)) << "no version";
    EXPECT_NE(error.find("no version"), std::string::npos);
}

TEST(ServerConfig, FileSettingsCommentsAndLaterOptions) {
    std::string path = ::testing::TempDir() + "game_server_test.conf";
    {
        std::ofstream file(path, std::ios::binary);
        file << "# announced\r\n\r\n  version 8  \r\npatch-server a.example:11679\r\n"
                "patch-server\t10.0.0.5:11680\n";
    }
    ServerConfig config;
    std::string error;
    ASSERT_TRUE(Parse({"--config", path.c_str(), "--patch-server", "c:3", "--version", "9"},
                      &config, &error))
        << error;
    EXPECT_EQ(config.version, 9u);
    EXPECT_EQ(config.patchServers, (std::vector<ListedPatchServer>{
                                       {"a.example", 11679}, {"10.0.0.5", 11680}, {"c", 3}}));
    std::remove(path.c_str());
}

TEST(ServerConfig, FileErrorsNameTheLine) {
    ServerConfig config;
    std::string error;
    EXPECT_FALSE(ParseConfigText("version 1\n# fine\nport 5\n", &config, &error));
    EXPECT_EQ(error, "line 3: unknown setting \"port\" (version, patch-server)");
    EXPECT_FALSE(ParseConfigText("\nversion\n", &config, &error));
    EXPECT_EQ(error.rfind("line 2: ", 0), 0u) << error;
    EXPECT_FALSE(ParseConfigText("patch-server x\n", &config, &error));
    EXPECT_EQ(error.rfind("line 1: ", 0), 0u) << error;
}

TEST(ServerConfig, AListThatDoesNotFitOneMessageIsRefused) {
    // 12 bytes ahead of the list and 5 per one-letter server: 13,102 fit
    // the 65,523 bytes of one message, 13,103 do not.
    ServerConfig config;
    config.versionSet = true;
    config.patchServers.assign(13102, ListedPatchServer{"h", 1});
    std::string error;
    EXPECT_TRUE(ValidateConfig(config, &error)) << error;
    config.patchServers.push_back(ListedPatchServer{"h", 1});
    EXPECT_FALSE(ValidateConfig(config, &error));
    EXPECT_NE(error.find("65523"), std::string::npos) << error;
}

}  // namespace

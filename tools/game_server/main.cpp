// game_server: the reference game server. See --help.
#include <atomic>
#include <csignal>
#include <cstdio>
#include <string>

#include "game_server.h"
#include "mrl_version.h"
#include "platform/time.h"
#include "request_handler.h"
#include "server_config.h"
#include "version_answer.h"

namespace {

const char kHelp[] =
    "Usage: game_server --announce N [options]\n"
    "  or:  game_server --config FILE [options]\n"
    "\n"
    "A reference game server for Mirelands Auto Update. It listens on a UDP port\n"
    "for the updater's version question (game-link message 65) and answers each\n"
    "one, reliably, with the current client version and the list of patch\n"
    "servers, as often as --rate-limit allows for the asker's address. Any other\n"
    "message, and a message whose checksum does not match, is ignored (and\n"
    "logged).\n"
    "\n"
    "Options:\n"
    "  --announce N           client version to announce, 0 to 4294967295 (required,\n"
    "                         here or as \"version N\" in the config file)\n"
    "  --patch-server H:P     a patch server to list: host name or dotted address\n"
    "                         (1 to 99 characters) and TCP port; repeatable, listed\n"
    "                         in the order given\n"
    "  --config FILE          read settings from FILE (below); options after it add\n"
    "                         to its list or override its version\n"
    "  --port N               UDP port to listen on (default 11677; 0 picks a free one)\n"
    "  --bind ADDRESS         IPv4 address to listen on (default 127.0.0.1; 0.0.0.0\n"
    "                         for every interface)\n"
    "  --rate-limit N         answers a second to one IPv4 address, all its ports\n"
    "                         together (default 10; 0 for no limit); a message 65\n"
    "                         beyond it is ignored (and logged)\n"
    "  --help                 this text\n"
    "  --version              the version of this build\n"
    "\n"
    "Config file, one setting per line; blank lines and lines starting with #\n"
    "are ignored:\n"
    "  # announced version and patch servers\n"
    "  version 8\n"
    "  patch-server patch1.example.net:11679\n"
    "  patch-server 10.0.0.5:11679\n"
    "\n"
    "On start the server prints \"listening on ADDRESS:PORT\", then one line per\n"
    "message: UTC time, the sender's address:port and what it answered (or why\n"
    "it ignored the message). SIGINT or SIGTERM stops it (exit 0). Exit 2: bad\n"
    "options; exit 1: the port could not be opened.\n";

std::atomic<bool> stopRequested{false};

void OnSignal(int) { stopRequested = true; }

int Usage(const std::string& problem) {
    std::fprintf(stderr, "game_server: %s\nTry --help.\n", problem.c_str());
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    ServerConfig config;
    std::string error;
    if (!ParseArguments(argc, argv, &config, &error)) return Usage(error);
    if (config.help) {
        std::fputs(kHelp, stdout);
        return 0;
    }
    if (config.showVersion) {
        std::printf("game_server (%s) %s\n", MRL_PRODUCT_NAME, MRL_VERSION_TEXT);
        return 0;
    }
    if (!ValidateConfig(config, &error)) return Usage(error);

    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);

    RequestHandler handler(VersionAnswer(config.version, config.patchServers), config.rateLimit);
    std::string description = handler.Describe();
    GameServer server(std::move(handler), stdout);
    if (!server.Start(config.bindAddress, config.port, &error)) {
        std::fprintf(stderr, "game_server: %s\n", error.c_str());
        return 1;
    }
    std::printf("listening on %s:%u, announcing %s\n", config.bindAddress.c_str(), server.Port(),
                description.c_str());
    std::fflush(stdout);
    // The engine's threads do the work; this one only waits for the signal.
    while (!stopRequested) platform::Sleep(100);
    std::printf("stopping after %llu answers\n",
                static_cast<unsigned long long>(server.Answered()));
    std::fflush(stdout);
    return 0;
}

// game_server: the reference game server. See --help.
#include <signal.h>

#include <atomic>
#include <cstdio>
#include <string>

#include "announcement.h"
#include "game_server.h"
#include "log_time.h"
#include "metrics_endpoint.h"
#include "metrics_text.h"
#include "mrl_version.h"
#include "platform/time.h"
#include "request_handler.h"
#include "server_config.h"
#include "signals.h"

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
    "counted).\n"
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
    "                         beyond it is ignored (and counted)\n"
    "  --rollout PERCENT      announce the --announce version to PERCENT % of the\n"
    "                         players (0 to 100, default 100), chosen by IPv4\n"
    "                         address so that a player keeps its answer and a\n"
    "                         wider rollout keeps the players a narrower one had;\n"
    "                         the rest hear\n"
    "                         --previous-version\n"
    "  --previous-version N   the version the players outside the rollout keep\n"
    "                         (required with a rollout below 100)\n"
    "  --metrics A:P          serve Prometheus metrics over HTTP at http://A:P/metrics\n"
    "                         (A an IPv4 address; port 0 picks a free one)\n"
    "  --help                 this text\n"
    "  --version              the version of this build\n"
    "\n"
    "Config file, one setting per line; blank lines and lines starting with #\n"
    "are ignored:\n"
    "  # announced version and patch servers\n"
    "  version 8\n"
    "  patch-server patch1.example.net:11679\n"
    "  patch-server 10.0.0.5:11679\n"
    "  rollout 10\n"
    "  previous-version 7\n"
    "  metrics 127.0.0.1:9101\n"
    "\n"
    "Each player gets the patch servers in an order of its own: the list above\n"
    "rotated to start at a server chosen by the player's IPv4 address, so that\n"
    "players spread evenly and each server's alternatives still follow it.\n"
    "\n"
    "On start the server prints \"listening on ADDRESS:PORT\", then one line per\n"
    "answer: UTC time, the asker's address:port and what it was told. Ignored\n"
    "messages are counted, and summed up in one line at most once a second.\n"
    "SIGHUP reads the options and the config file again and announces what they\n"
    "say now (the address, port and metrics stay until a restart; a bad config\n"
    "is logged and the last one stays). SIGINT or SIGTERM stops it (exit 0).\n"
    "Exit 2: bad options; exit 1: the port could not be opened.\n";

std::atomic<bool> stopRequested{false};
std::atomic<bool> reloadRequested{false};

void OnStop(int) { stopRequested = true; }
void OnHangUp(int) { reloadRequested = true; }

std::string RenderMetrics(const GameServerStats& stats) {
    MetricsText page;
    page.Counter("game_server_answers_total", "Version questions answered.", stats.answered);
    page.Counter("game_server_rate_limited_total",
                 "Version questions dropped over the answer rate limit.", stats.rateLimited);
    page.Counters("game_server_ignored_total", "Other messages ignored, by reason.", "reason",
                  {{"too_short", stats.tooShort},
                   {"bad_checksum", stats.badChecksum},
                   {"other_message", stats.otherMessage}});
    page.Counter("game_server_reloads_total", "Configurations loaded again (SIGHUP).",
                 stats.reloads);
    return page.Text();
}

// The options and the config file read again: what the server announces
// changes; where it listens does not.
void Reload(int argc, char** argv, const ServerConfig& running, GameServer& server) {
    ServerConfig config;
    std::string error;
    if (!ParseArguments(argc, argv, &config, &error) || !ValidateConfig(config, &error)) {
        std::printf("%s config not reloaded, the last one stays: %s\n", LogTime().c_str(),
                    error.c_str());
        return;
    }
    RequestHandler described(Announcement(config), config.rateLimit);
    server.Reconfigure(Announcement(config), config.rateLimit);
    std::printf("%s config reloaded: announcing %s\n", LogTime().c_str(),
                described.Describe().c_str());
    if (config.bindAddress != running.bindAddress || config.port != running.port ||
        config.metricsAddress != running.metricsAddress)
        std::printf("%s the address, port and metrics address change on a restart only\n",
                    LogTime().c_str());
}

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

    OnSignal(SIGINT, OnStop);
    OnSignal(SIGTERM, OnStop);
    OnSignal(SIGHUP, OnHangUp);

    RequestHandler handler(Announcement(config), config.rateLimit);
    std::string description = handler.Describe();
    GameServer server(std::move(handler), stdout);
    if (!server.Start(config.bindAddress, config.port, &error)) {
        std::fprintf(stderr, "game_server: %s\n", error.c_str());
        return 1;
    }
    MetricsEndpoint metrics([&server] { return RenderMetrics(server.Stats()); });
    if (!config.metricsAddress.empty() && !metrics.Start(config.metricsAddress, &error)) {
        std::fprintf(stderr, "game_server: %s\n", error.c_str());
        return 1;
    }
    std::printf("listening on %s:%u, announcing %s\n", config.bindAddress.c_str(), server.Port(),
                description.c_str());
    if (!config.metricsAddress.empty()) std::printf("metrics on port %u\n", metrics.Port());
    std::fflush(stdout);
    // The engine's threads answer; this one reloads and writes the log.
    while (!stopRequested) {
        if (reloadRequested.exchange(false)) Reload(argc, argv, config, server);
        server.WriteLog();
        platform::Sleep(100);
    }
    server.WriteLog();
    std::printf("%s stopping after %llu answers\n", LogTime().c_str(),
                static_cast<unsigned long long>(server.Answered()));
    std::fflush(stdout);
    return 0;
}

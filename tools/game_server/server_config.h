// What the reference game server announces and where it listens: from the
// command line and, optionally, a small configuration file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One patch server named in the answer.
struct ListedPatchServer {
    std::string host;
    uint16_t port = 0;

    bool operator==(const ListedPatchServer& other) const {
        return host == other.host && port == other.port;
    }
};

struct ServerConfig {
    static constexpr uint16_t kDefaultPort = 11677;
    // The updater keeps at most 99 characters of a patch server's host.
    static constexpr size_t kMaxHostLength = 99;
    // Answers a second to one address. An updater asks once a second; ten
    // players behind one address are all answered at once, and a victim
    // whose address a stranger forges gets no more than this.
    static constexpr uint32_t kDefaultRateLimit = 10;
    static constexpr uint32_t kMaxRateLimit = 1000000;

    std::string bindAddress = "127.0.0.1";
    uint16_t port = kDefaultPort;
    uint32_t version = 0;
    bool versionSet = false;
    std::vector<ListedPatchServer> patchServers;
    uint32_t rateLimit = kDefaultRateLimit;  // 0: none
    // The share of players (by address) told `version`; the rest are told
    // `previousVersion`.
    uint32_t rolloutPercent = 100;
    uint32_t previousVersion = 0;
    bool previousVersionSet = false;
    std::string metricsAddress;  // "ADDRESS:PORT"; empty: no metrics
    bool help = false;
    bool showVersion = false;  // --version: print this build's version and stop
};

// Reads the options (argv[1..]); false with `error` set on a bad option or
// value. A --config file is read where it stands, so later options add to
// its list (and a later --announce overrides its version). --version takes
// no value: the version to announce is --announce N, and an old command line
// "--version N" is refused rather than taken for a request of ours.
bool ParseArguments(int argc, const char* const* argv, ServerConfig* config, std::string* error);

// Reads a configuration file: one setting per line,
//   version N
//   patch-server HOST:PORT
//   rollout PERCENT
//   previous-version N
//   metrics ADDRESS:PORT
// with blank lines and lines starting with # ignored. False with `error`
// (naming the line) on anything else.
bool LoadConfigFile(const std::string& path, ServerConfig* config, std::string* error);
bool ParseConfigText(const std::string& text, ServerConfig* config, std::string* error);

// "HOST:PORT" with a host of 1..99 characters and a port of 1..65535.
bool ParsePatchServer(const std::string& text, ListedPatchServer* server, std::string* error);

// A complete configuration: a version is given (and a previous version for
// a rollout below 100 %) and the answer fits one game-link message. False
// with `error` otherwise.
bool ValidateConfig(const ServerConfig& config, std::string* error);

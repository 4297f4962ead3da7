#include "server_config.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "gamelink/datagram_header.h"
#include "metrics_endpoint.h"
#include "version_answer.h"

namespace {

bool ParseNumber(const std::string& text, unsigned long long max, unsigned long long* value) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
    errno = 0;
    unsigned long long parsed = std::strtoull(text.c_str(), nullptr, 10);
    if (errno || parsed > max) return false;
    *value = parsed;
    return true;
}

// A version number, 0 to 4294967295, and the flag that says it was given.
bool ParseVersionInto(const std::string& text, uint32_t* version, bool* given) {
    unsigned long long number = 0;
    if (!ParseNumber(text, 0xFFFFFFFFull, &number)) return false;
    *version = uint32_t(number);
    *given = true;
    return true;
}

bool ParseVersion(const std::string& text, ServerConfig* config) {
    return ParseVersionInto(text, &config->version, &config->versionSet);
}

bool ParsePreviousVersion(const std::string& text, ServerConfig* config) {
    return ParseVersionInto(text, &config->previousVersion, &config->previousVersionSet);
}

bool ParseRollout(const std::string& text, ServerConfig* config) {
    unsigned long long percent = 0;
    if (!ParseNumber(text, 100, &percent)) return false;
    config->rolloutPercent = uint32_t(percent);
    return true;
}

bool ParseMetrics(const std::string& text, ServerConfig* config) {
    std::string address;
    uint16_t port = 0;
    if (!MetricsEndpoint::Parse(text, &address, &port)) return false;
    config->metricsAddress = text;
    return true;
}

// Host names and dotted addresses: visible characters only, so that what
// the updater reads back is exactly what was configured.
bool IsHostText(const std::string& host) {
    for (unsigned char c : host)
        if (c <= 0x20 || c >= 0x7F) return false;
    return true;
}

std::string Trim(const std::string& text) {
    size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return "";
    size_t last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

}  // namespace

bool ParsePatchServer(const std::string& text, ListedPatchServer* server, std::string* error) {
    size_t colon = text.rfind(':');
    unsigned long long port = 0;
    if (colon == std::string::npos || !ParseNumber(text.substr(colon + 1), 0xFFFF, &port) ||
        port == 0) {
        *error = "patch server \"" + text + "\" is not HOST:PORT with a port of 1 to 65535";
        return false;
    }
    std::string host = text.substr(0, colon);
    if (host.empty() || host.size() > ServerConfig::kMaxHostLength || !IsHostText(host)) {
        *error = "patch server host \"" + host + "\" must be 1 to 99 visible characters";
        return false;
    }
    server->host = host;
    server->port = uint16_t(port);
    return true;
}

bool ParseConfigText(const std::string& text, ServerConfig* config, std::string* error) {
    std::istringstream lines(text);
    std::string line;
    for (int number = 1; std::getline(lines, line); ++number) {
        line = Trim(line);
        if (line.empty() || line[0] == '#') continue;
        size_t space = line.find_first_of(" \t");
        std::string key = line.substr(0, space);
        std::string value = space == std::string::npos ? "" : Trim(line.substr(space));
        std::string problem;
        ListedPatchServer server;
        if (key == "version") {
            if (ParseVersion(value, config)) continue;
            problem = "version must be a number from 0 to 4294967295";
        } else if (key == "patch-server") {
            if (ParsePatchServer(value, &server, &problem)) {
                config->patchServers.push_back(server);
                continue;
            }
        } else if (key == "rollout") {
            if (ParseRollout(value, config)) continue;
            problem = "rollout must be a percentage from 0 to 100";
        } else if (key == "previous-version") {
            if (ParsePreviousVersion(value, config)) continue;
            problem = "previous-version must be a number from 0 to 4294967295";
        } else if (key == "metrics") {
            if (ParseMetrics(value, config)) continue;
            problem = "metrics must be IPV4ADDRESS:PORT";
        } else {
            problem = "unknown setting \"" + key +
                      "\" (version, patch-server, rollout, previous-version, metrics)";
        }
        *error = "line " + std::to_string(number) + ": " + problem;
        return false;
    }
    return true;
}

bool LoadConfigFile(const std::string& path, ServerConfig* config, std::string* error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        *error = "cannot read " + path;
        return false;
    }
    std::ostringstream text;
    text << file.rdbuf();
    if (!ParseConfigText(text.str(), config, error)) {
        *error = path + ", " + *error;
        return false;
    }
    return true;
}

bool ParseArguments(int argc, const char* const* argv, ServerConfig* config, std::string* error) {
    for (int i = 1; i < argc; ++i) {
        std::string option = argv[i];
        if (option == "--help" || option == "-h") {
            config->help = true;
            return true;
        }
        if (option == "--version") {
            if (i + 1 < argc) {
                *error = "--version takes no value; the version to announce is --announce N";
                return false;
            }
            config->showVersion = true;
            return true;
        }
        if (i + 1 >= argc) {
            *error = "missing value after " + option;
            return false;
        }
        std::string value = argv[++i];
        unsigned long long number = 0;
        ListedPatchServer server;
        std::string problem;
        if (option == "--port" && ParseNumber(value, 0xFFFF, &number)) {
            config->port = uint16_t(number);
        } else if (option == "--rate-limit" &&
                   ParseNumber(value, ServerConfig::kMaxRateLimit, &number)) {
            config->rateLimit = uint32_t(number);
        } else if (option == "--bind") {
            config->bindAddress = value;
        } else if (option == "--announce" && ParseVersion(value, config)) {
        } else if (option == "--patch-server") {
            if (!ParsePatchServer(value, &server, error)) return false;
            config->patchServers.push_back(server);
        } else if (option == "--rollout" && ParseRollout(value, config)) {
        } else if (option == "--previous-version" && ParsePreviousVersion(value, config)) {
        } else if (option == "--metrics" && ParseMetrics(value, config)) {
        } else if (option == "--config") {
            if (!LoadConfigFile(value, config, error)) return false;
        } else {
            *error = "bad option or value: " + option + " " + value;
            return false;
        }
    }
    return true;
}

bool ValidateConfig(const ServerConfig& config, std::string* error) {
    if (!config.versionSet) {
        *error = "no version given (--announce N or \"version N\" in the config file)";
        return false;
    }
    if (config.rolloutPercent < 100 && !config.previousVersionSet) {
        *error =
            "a rollout below 100 % needs the version the other players keep "
            "(--previous-version N or \"previous-version N\" in the config file)";
        return false;
    }
    // The count travels in 16 bits and the whole answer in one message.
    size_t size = VersionAnswer::EncodedSize(config.patchServers);
    if (config.patchServers.size() > 0xFFFF || size > kMaxMessagePayload) {
        *error = "the patch servers do not fit one answer (" + std::to_string(size) +
                 " of at most " + std::to_string(kMaxMessagePayload) + " bytes)";
        return false;
    }
    return true;
}

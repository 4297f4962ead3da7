// patch_server: the reference patch server. See --help.
#include <signal.h>
#include <sys/resource.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <utility>

#include "catalogue.h"
#include "metrics_endpoint.h"
#include "metrics_text.h"
#include "mrl_version.h"
#include "patch_server.h"
#include "signals.h"

namespace {

const char kHelp[] =
    "Usage: patch_server --catalogue DIR [options]\n"
    "\n"
    "A reference patch server for Mirelands Auto Update. Each client is greeted\n"
    "with one byte, sends its installed version (4 bytes, big-endian) and gets\n"
    "the header of the patch file that leads on from that version (its target\n"
    "version first), or a refusal.\n"
    "It then sends its resume offset (4 bytes) and receives the file from there.\n"
    "\n"
    "Options:\n"
    "  --catalogue DIR      directory with manifest.txt and the patch files (required)\n"
    "  --port N             TCP port to listen on (default 11679; 0 picks a free one)\n"
    "  --bind ADDRESS       IPv4 address to listen on (default 127.0.0.1)\n"
    "  --max-clients N      clients served at once (default 64); a client beyond\n"
    "                       that is refused with reason 2, server full\n"
    "  --max-per-address N  clients served at once from one IPv4 address (default 8;\n"
    "                       0: no cap); one more from there is refused like a client\n"
    "                       of a full server\n"
    "  --alternative H:P    another patch server named in every refusal (repeatable,\n"
    "                       in order)\n"
    "  --idle-seconds N     drop a client silent for N seconds (default 60)\n"
    "  --max-connections N  connections open at once, refused ones included (default\n"
    "                       max-clients + max-clients/4 + 16); more wait in the\n"
    "                       listen backlog. A refused client is closed as soon as\n"
    "                       its refusal is sent.\n"
    "  --metrics A:P        serve Prometheus metrics over HTTP at http://A:P/metrics\n"
    "                       (A an IPv4 address; port 0 picks a free one)\n"
    "  --help               this text\n"
    "  --version            the version of this build\n"
    "\n"
    "manifest.txt, one version step per line:\n"
    "  FROM TO FILE\n"
    "FROM is the installed version the step applies to, TO the version after it\n"
    "(nonzero), FILE a plain file name inside DIR that Windows takes as a file (no\n"
    "device name such as NUL or con.txt, no trailing dot or blank, none of <>:\"|?*).\n"
    "Lines starting with # and blank lines are ignored. Of several steps from one\n"
    "version (a direct patch beside the chain) the one with the highest TO is\n"
    "served. Example:\n"
    "  # from to file\n"
    "  7 8 p7to8.rtp\n"
    "  8 9 p8to9.rtp\n"
    "  7 9 p7to9.rtp\n"
    "\n"
    "A version with no step is refused with reason 1 (no valid patch).\n"
    "On start the server prints \"listening on ADDRESS:PORT\"; then one line per\n"
    "client when it goes, starting with the UTC time: its address and what it got.\n"
    "\n"
    "SIGHUP, or a change of manifest.txt (looked at once a second), loads the\n"
    "catalogue again: new clients get the new steps, downloads in flight finish\n"
    "from the files they opened. A manifest that cannot be served is logged and\n"
    "the last catalogue stays. SIGINT or SIGTERM stops the server.\n";

void OnStop(int) { PatchServer::Stop(); }
void OnHangUp(int) { PatchServer::RequestReload(); }

std::string RenderMetrics(const PatchServerStats& stats) {
    MetricsText page;
    page.Counter("patch_server_downloads_started_total", "Downloads from offset 0.",
                 stats.downloadsStarted);
    page.Counter("patch_server_downloads_resumed_total", "Downloads from a later offset.",
                 stats.downloadsResumed);
    page.Counter("patch_server_downloads_completed_total", "Downloads sent to the end.",
                 stats.downloadsCompleted);
    page.Counter("patch_server_sent_bytes_total", "Bytes of patch files sent.", stats.bytesSent);
    page.Counters("patch_server_refusals_total", "Clients refused, by reason.", "reason",
                  {{"no_patch", stats.refusedNoPatch},
                   {"server_full", stats.refusedFull},
                   {"per_address", stats.refusedPerAddress}});
    page.Counter("patch_server_accept_backoffs_total",
                 "Pauses of the listener for want of descriptors.", stats.acceptBackoffs);
    page.Counter("patch_server_catalogue_reloads_total", "Catalogues loaded after the first.",
                 stats.catalogueReloads);
    page.Gauge("patch_server_clients_connected", "Connections open now.", stats.connectedNow);
    return page.Text();
}

bool ParseNumber(const char* text, unsigned long max, unsigned long* value) {
    char* end = nullptr;
    errno = 0;
    unsigned long parsed = std::strtoul(text, &end, 10);
    if (errno || !*text || *end || parsed > max) return false;
    *value = parsed;
    return true;
}

bool ParseAlternative(const std::string& text, ServerOptions* options) {
    size_t colon = text.rfind(':');
    unsigned long port = 0;
    if (colon == std::string::npos || colon == 0 ||
        !ParseNumber(text.c_str() + colon + 1, 0xFFFF, &port))
        return false;
    options->alternatives.emplace_back(uint16_t(port), text.substr(0, colon));
    return true;
}

int Usage(const std::string& problem) {
    std::fprintf(stderr, "patch_server: %s\nTry --help.\n", problem.c_str());
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    ServerOptions options;
    std::string metricsAddress, metricsHost;
    uint16_t metricsPort = 0;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help") {
            std::fputs(kHelp, stdout);
            return 0;
        }
        if (arg == "--version") {
            std::printf("patch_server (%s) %s\n", MRL_PRODUCT_NAME, MRL_VERSION_TEXT);
            return 0;
        }
        if (i + 1 >= argc) return Usage("missing value after " + arg);
        const char* value = argv[++i];
        unsigned long number = 0;
        if (arg == "--catalogue") {
            options.catalogueDir = value;
        } else if (arg == "--port" && ParseNumber(value, 0xFFFF, &number)) {
            options.port = uint16_t(number);
        } else if (arg == "--bind") {
            options.bindAddress = value;
        } else if (arg == "--max-clients" && ParseNumber(value, 1000000, &number)) {
            options.maxClients = number;
        } else if (arg == "--max-per-address" && ParseNumber(value, 1000000, &number)) {
            options.maxPerAddress = number;
        } else if (arg == "--idle-seconds" && ParseNumber(value, 86400, &number) && number > 0) {
            options.idleSeconds = int(number);
        } else if (arg == "--alternative" && ParseAlternative(value, &options)) {
        } else if (arg == "--max-connections" && ParseNumber(value, 1000000, &number) &&
                   number > 0) {
            options.maxConnections = number;
        } else if (arg == "--metrics" &&
                   MetricsEndpoint::Parse(value, &metricsHost, &metricsPort)) {
            metricsAddress = value;
        } else {
            return Usage("bad option or value: " + arg + " " + value);
        }
    }
    if (options.catalogueDir.empty()) return Usage("--catalogue DIR is required");
    // Alternatives travel in one refusal of at most 2500 bytes.
    size_t refusalSize = 7;
    for (const auto& alternative : options.alternatives)
        refusalSize += 4 + alternative.second.size();
    if (refusalSize > 2500) return Usage("the alternatives do not fit one refusal (2500 bytes)");

    auto catalogue = std::make_shared<Catalogue>();
    std::string error;
    if (!catalogue->Load(options.catalogueDir, &error)) {
        std::fprintf(stderr, "patch_server: %s\n", error.c_str());
        return 1;
    }
    // One descriptor per client: raise the soft limit as far as allowed.
    rlimit limit;
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
    IgnoreSignal(SIGPIPE);
    OnSignal(SIGINT, OnStop);
    OnSignal(SIGTERM, OnStop);
    OnSignal(SIGHUP, OnHangUp);

    const size_t steps = catalogue->Size();
    PatchServer server(options, std::move(catalogue));
    if (!server.Listen(&error)) {
        std::fprintf(stderr, "patch_server: %s\n", error.c_str());
        return 1;
    }
    MetricsEndpoint metrics([&server] { return RenderMetrics(server.Stats()); });
    if (!metricsAddress.empty() && !metrics.Start(metricsAddress, &error)) {
        std::fprintf(stderr, "patch_server: %s\n", error.c_str());
        return 1;
    }
    std::printf("listening on %s:%u (%zu steps)\n", options.bindAddress.c_str(), server.Port(),
                steps);
    if (!metricsAddress.empty()) std::printf("metrics on port %u\n", metrics.Port());
    std::fflush(stdout);
    server.Run();
    return 0;
}

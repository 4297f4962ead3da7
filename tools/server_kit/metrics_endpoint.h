// Serves GET /metrics over HTTP on its own thread: the page `render`
// returns, in the Prometheus text format. `render` runs on that thread, so
// it reads only atomics or state it locks.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace httplib {
class Server;
}

class MetricsEndpoint {
public:
    explicit MetricsEndpoint(std::function<std::string()> render);
    ~MetricsEndpoint();
    MetricsEndpoint(const MetricsEndpoint&) = delete;
    MetricsEndpoint& operator=(const MetricsEndpoint&) = delete;

    // "ADDRESS:PORT" (IPv4, port 0 picks a free one); false with `error`
    // set when it cannot listen there.
    bool Start(const std::string& addressPort, std::string* error);
    uint16_t Port() const { return port_; }

    // "ADDRESS:PORT" with an IPv4 address and a port 0..65535.
    static bool Parse(const std::string& text, std::string* address, uint16_t* port);

private:
    std::function<std::string()> render_;
    std::unique_ptr<httplib::Server> server_;
    std::thread thread_;
    uint16_t port_ = 0;
};

#include "metrics_endpoint.h"

#include <arpa/inet.h>
#include <httplib.h>

#include <chrono>
#include <cstdlib>
#include <utility>

MetricsEndpoint::MetricsEndpoint(std::function<std::string()> render)
    : render_(std::move(render)) {}

MetricsEndpoint::~MetricsEndpoint() {
    if (server_) server_->stop();
    if (thread_.joinable()) thread_.join();
}

bool MetricsEndpoint::Parse(const std::string& text, std::string* address, uint16_t* port) {
    size_t colon = text.rfind(':');
    if (colon == std::string::npos) return false;
    std::string host = text.substr(0, colon), digits = text.substr(colon + 1);
    in_addr parsed{};
    if (::inet_pton(AF_INET, host.c_str(), &parsed) != 1 || digits.empty() || digits.size() > 5 ||
        digits.find_first_not_of("0123456789") != std::string::npos)
        return false;
    unsigned long number = std::strtoul(digits.c_str(), nullptr, 10);
    if (number > 0xFFFF) return false;
    *address = host;
    *port = uint16_t(number);
    return true;
}

bool MetricsEndpoint::Start(const std::string& addressPort, std::string* error) {
    std::string address;
    uint16_t port = 0;
    if (!Parse(addressPort, &address, &port)) {
        *error = "metrics address \"" + addressPort + "\" is not IPV4ADDRESS:PORT";
        return false;
    }
    server_ = std::make_unique<httplib::Server>();
    // Scrapes come one at a time from a few collectors: one worker is enough.
    server_->new_task_queue = [] { return new httplib::ThreadPool(1); };
    server_->Get("/metrics", [this](const httplib::Request&, httplib::Response& response) {
        response.set_content(render_(), "text/plain; version=0.0.4; charset=utf-8");
    });
    int bound = port == 0 ? server_->bind_to_any_port(address) : port;
    if (bound <= 0 || (port != 0 && !server_->bind_to_port(address, port))) {
        *error = "cannot serve metrics on " + addressPort;
        server_.reset();
        return false;
    }
    port_ = uint16_t(bound);
    thread_ = std::thread([this] { server_->listen_after_bind(); });
    // Stop only reaches a server that runs: wait for it (briefly) here.
    for (int waited = 0; !server_->is_running() && waited < 500; ++waited)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return true;
}

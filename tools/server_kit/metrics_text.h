// A page in the Prometheus text exposition format (version 0.0.4): each
// family with its HELP and TYPE lines, then its samples.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

class MetricsText {
public:
    // A counter's name ends in _total; a gauge's does not.
    void Counter(const std::string& name, const std::string& help, uint64_t value);
    void Gauge(const std::string& name, const std::string& help, uint64_t value);
    // One counter family with one label: a sample per (label value, count).
    void Counters(const std::string& name, const std::string& help, const std::string& label,
                  const std::vector<std::pair<std::string, uint64_t>>& samples);
    const std::string& Text() const { return text_; }

private:
    void Family(const std::string& name, const std::string& help, const char* type);
    std::string text_;
};

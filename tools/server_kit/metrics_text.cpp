#include "metrics_text.h"

void MetricsText::Family(const std::string& name, const std::string& help, const char* type) {
    // The family's name drops a counter's _total.
    std::string family = name;
    if (std::string(type) == "counter" && family.size() > 6 &&
        family.compare(family.size() - 6, 6, "_total") == 0)
        family.resize(family.size() - 6);
    text_ += "# HELP " + family + " " + help + "\n# TYPE " + family + " " + type + "\n";
}

void MetricsText::Counter(const std::string& name, const std::string& help, uint64_t value) {
    Family(name, help, "counter");
    text_ += name + " " + std::to_string(value) + "\n";
}

void MetricsText::Gauge(const std::string& name, const std::string& help, uint64_t value) {
    Family(name, help, "gauge");
    text_ += name + " " + std::to_string(value) + "\n";
}

void MetricsText::Counters(const std::string& name, const std::string& help,
                           const std::string& label,
                           const std::vector<std::pair<std::string, uint64_t>>& samples) {
    Family(name, help, "counter");
    // Label values here are fixed words: nothing to escape.
    for (const auto& [value, count] : samples)
        text_ += name + "{" + label + "=\"" + value + "\"} " + std::to_string(count) + "\n";
}

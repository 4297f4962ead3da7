#include "temp_dir.h"

#include <fstream>
#include <random>
#include <stdexcept>
#include <string>

// Also built for Windows (run under Wine), so no POSIX calls here.
TempDir::TempDir() : previous_(std::filesystem::current_path()) {
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const auto candidate =
            std::filesystem::temp_directory_path() / ("mrl-text-" + std::to_string(random()));
        if (std::filesystem::create_directory(candidate)) {
            path_ = candidate;
            std::filesystem::current_path(path_);
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary directory");
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::current_path(previous_, ignored);
    std::filesystem::remove_all(path_, ignored);
}

void TempDir::WriteFile(const std::string& name, const std::string& bytes) const {
    std::ofstream out(path_ / name, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + name);
}

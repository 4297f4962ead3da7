#include "tree_fixture.h"

#include <atomic>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace patchtest {

namespace fs = std::filesystem;

TempDir::TempDir() {
    static std::atomic<int> counter{0};
    std::random_device device;
    for (int attempt = 0; attempt < 100; ++attempt) {
        fs::path candidate =
            fs::temp_directory_path() /
            ("patchlib-test-" + std::to_string(device()) + "-" + std::to_string(counter++));
        if (fs::create_directory(candidate)) {
            path_ = candidate;
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary directory");
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

Snapshot TakeSnapshot(const fs::path& root) {
    Snapshot snapshot;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        std::string relative = entry.path().lexically_relative(root).generic_u8string();
        snapshot[relative] = entry.is_directory() ? "<dir>" : ReadFile(entry.path());
    }
    return snapshot;
}

void WriteFile(const fs::path& path, const std::string& content) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

std::string Noise(uint32_t seed, size_t size) {
    std::mt19937 random(seed);
    std::string data(size, '\0');
    for (char& c : data) c = static_cast<char>(random() & 0xFF);
    return data;
}

std::string GameData(uint32_t seed, size_t size) {
    std::mt19937 random(seed);
    std::string data;
    data.reserve(size + 64);
    while (data.size() < size) {
        uint32_t id = random() % 5000;
        data += "ITEM" + std::to_string(id) + ";hp=" + std::to_string(random() % 900) + ";";
        for (int i = 0; i < 12; ++i) data.push_back(static_cast<char>(random() % 7));
        data += "name=Sword of the North " + std::to_string(id % 17) + "\n";
    }
    data.resize(size);
    return data;
}

void CopyTree(const fs::path& from, const fs::path& to) {
    fs::copy(from, to, fs::copy_options::recursive);
}

}  // namespace patchtest

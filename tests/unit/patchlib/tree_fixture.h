// Generated trees in temporary directories for the patch library's tests.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>

namespace patchtest {

// A fresh directory removed with everything in it at the end of the test.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& relative) const { return path_ / relative; }

private:
    std::filesystem::path path_;
};

// Every file (by content) and directory (as "<dir>") under a root, by relative path.
using Snapshot = std::map<std::string, std::string>;
Snapshot TakeSnapshot(const std::filesystem::path& root);

void WriteFile(const std::filesystem::path& path, const std::string& content);
std::string ReadFile(const std::filesystem::path& path);
// Deterministic pseudo-random bytes.
std::string Noise(uint32_t seed, size_t size);
// Game-like data: records with repeated structure, some text, some numbers.
std::string GameData(uint32_t seed, size_t size);
void CopyTree(const std::filesystem::path& from, const std::filesystem::path& to);

}  // namespace patchtest

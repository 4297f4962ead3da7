// A fresh temporary directory that the test works in: created and entered
// on construction, left and removed on destruction.
#pragma once

#include <filesystem>
#include <string>

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // Writes `bytes` exactly as given (binary) into `name`.
    void WriteFile(const std::string& name, const std::string& bytes) const;
    const std::filesystem::path& Path() const { return path_; }

private:
    std::filesystem::path previous_;
    std::filesystem::path path_;
};

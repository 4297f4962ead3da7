// The patch files a reference patch server hands out, read from a manifest
// in the catalogue directory: per installed version, the step that reaches
// the highest version.
#pragma once

#include <cstdint>
#include <map>
#include <string>

struct PatchStep {
    uint32_t from = 0;
    uint32_t to = 0;
    std::string name;  // plain file name inside the catalogue
    uint32_t size = 0;
    int fd = -1;  // kept open for the life of the server
};

class Catalogue {
public:
    ~Catalogue();
    // Reads <dir>/manifest.txt. On failure returns false with `error` set.
    bool Load(const std::string& dir, std::string* error);
    // The step served to a client at `version`, or null.
    const PatchStep* Find(uint32_t version) const;
    size_t Size() const { return steps_.size(); }

private:
    std::map<uint32_t, PatchStep> steps_;
};

// The patch files a reference patch server hands out, read from a manifest
// in the catalogue directory: per installed version, the step that reaches
// the highest version. A catalogue owns its open files and cannot be
// copied; the server shares it with the downloads that use it, so that a
// newer catalogue can take its place while they finish.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "unique_fd.h"

struct PatchStep {
    uint32_t from = 0;
    uint32_t to = 0;
    std::string name;  // plain file name inside the catalogue
    uint32_t size = 0;
    UniqueFd file;  // open for the life of the catalogue
};

class Catalogue {
public:
    Catalogue() = default;
    Catalogue(const Catalogue&) = delete;
    Catalogue& operator=(const Catalogue&) = delete;

    // Reads <dir>/manifest.txt. On failure returns false with `error` set.
    bool Load(const std::string& dir, std::string* error);
    // The step served to a client at `version`, or null.
    const PatchStep* Find(uint32_t version) const;
    size_t Size() const { return steps_.size(); }

private:
    std::map<uint32_t, PatchStep> steps_;
};

#include "catalogue.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <utility>

#include "names/windows_names.h"

bool Catalogue::Load(const std::string& dir, std::string* error) {
    std::ifstream manifest(dir + "/manifest.txt");
    if (!manifest) {
        *error = "cannot open " + dir + "/manifest.txt";
        return false;
    }
    std::string line;
    for (int number = 1; std::getline(manifest, line); ++number) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        size_t first = line.find_first_not_of(" \t");
        if (first == std::string::npos || line[first] == '#') continue;
        std::istringstream fields(line);
        PatchStep step;
        std::string extra;
        if (!(fields >> step.from >> step.to >> step.name) || (fields >> extra)) {
            *error = "manifest line " + std::to_string(number) + ": expected FROM TO FILE";
            return false;
        }
        // A file name travels in a 2-byte length inside a 2500-byte answer,
        // and the updater refuses names Windows treats specially.
        if (step.to == 0 || !IsSafeWindowsName(step.name) || step.name.size() > 2490) {
            *error = "manifest line " + std::to_string(number) +
                     ": TO must be nonzero and FILE a plain file name Windows accepts";
            return false;
        }
        std::string path = dir + "/" + step.name;
        step.file.Reset(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
        struct stat info;
        if (!step.file.Valid() || ::fstat(step.file.Get(), &info) != 0 || !S_ISREG(info.st_mode) ||
            uint64_t(info.st_size) > 0xFFFFFFFFu) {
            *error = "cannot serve " + path + " (missing, not a file or over 4 GB)";
            return false;
        }
        step.size = uint32_t(info.st_size);
        // Several steps from one version: the one that goes furthest is
        // served (a direct patch beside the chain).
        auto [place, added] = steps_.try_emplace(step.from, std::move(step));
        if (added) continue;
        PatchStep& kept = place->second;
        if (kept.to == step.to) {
            *error = "manifest line " + std::to_string(number) + ": a second step from " +
                     std::to_string(step.from) + " to " + std::to_string(step.to);
            return false;
        }
        if (kept.to < step.to) std::swap(kept, step);  // the other one closes
    }
    return true;
}

const PatchStep* Catalogue::Find(uint32_t version) const {
    auto found = steps_.find(version);
    return found == steps_.end() ? nullptr : &found->second;
}

// A release from numbered game trees: every upgrade step NtoN+1.rtp, every
// downgrade file N+1toN.rtp, direct patches NtoLATEST.rtp for the players
// furthest behind, and the patch server's manifest.txt, each patch signed
// when a key is given. Steps build in parallel; a step is built again only when one of its trees or
// its output changed since the last run (mkrelease.state in the output directory).
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "crypto/ecdsa_p256.h"

namespace release {

// TREES or the options are unusable (missing, a non-numbered entry, a gap).
class InputError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct Step {
    uint32_t from = 0, to = 0;
    bool direct = false;  // skips versions: NtoLATEST beside the chain
    std::string Name() const { return std::to_string(from) + "to" + std::to_string(to) + ".rtp"; }
};

// The versions under `trees`, oldest first: at least two, consecutive,
// each a directory named by its number (1 or more, no leading zero).
std::vector<uint32_t> FindVersions(const std::filesystem::path& trees);

// Upgrades and downgrades between neighbours, then a direct patch to the
// newest version for each of the `direct` versions before it whose chain
// has more than one step.
std::vector<Step> PlanSteps(uint32_t first, uint32_t last, uint32_t direct);

struct Progress {
    size_t stepsDone = 0, stepsToBuild = 0;
    uint64_t bytesDone = 0, bytesTotal = 0;  // tree bytes read by the steps being built
};

struct Options {
    unsigned jobs = 1;
    uint32_t direct = 0;
    // Called from the building threads, one call at a time.
    std::function<void(const Progress&)> progress;
    // When set, every output is signed with it; another key rebuilds them all.
    const patchlib::KeyPair* signingKey = nullptr;
};

struct StepResult {
    Step step;
    bool built = false;  // false: kept from the last run (or failed)
    uint64_t patchBytes = 0, newTreeBytes = 0;
    double seconds = 0;
    std::string error;  // empty on success
};

struct Report {
    std::vector<StepResult> steps;  // in plan order
    double seconds = 0;
    bool ok = true;
};

// Builds the release of `trees` into `out`. Throws InputError for bad input;
// a step that fails is reported in its result, and then manifest.txt is not
// written (nor left from an earlier run).
Report BuildRelease(const std::filesystem::path& trees, const std::filesystem::path& out,
                    const Options& options);

}  // namespace release

#include "release.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <exception>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>

#include "builder/patch_builder.h"
#include "format/patch_format.h"
#include "format/patch_signature.h"
#include "crypto/sha256.h"
#include "builder/tree_scanner.h"

namespace release {

namespace fs = std::filesystem;

namespace {

const char kStateFile[] = "mkrelease.state";
const char kManifest[] = "manifest.txt";

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Decimal digits without a leading zero, 1 to 4294967295.
bool ParseVersion(const std::string& name, uint32_t* version) {
    if (name.empty() || name.size() > 10 || name[0] == '0') return false;
    uint64_t value = 0;
    for (char c : name) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + uint64_t(c - '0');
    }
    if (value > 0xFFFFFFFFu) return false;
    *version = uint32_t(value);
    return true;
}

struct TreeDigest {
    std::string hash;
    uint64_t bytes = 0;
};

// Names, kinds, sizes and contents: any change to the tree changes the hash.
TreeDigest DigestTree(const fs::path& root) {
    TreeDigest digest;
    patchlib::Sha256 whole;
    for (const auto& [path, item] : patchlib::TreeScanner::Scan(root)) {
        std::string line = (item.isDirectory ? "d " : "f ") + path;
        if (!item.isDirectory) {
            uint64_t size = 0;
            patchlib::Digest content{};
            if (!patchlib::Sha256::OfFile(root / fs::u8path(path), size, content))
                throw std::runtime_error("cannot read " + (root / fs::u8path(path)).u8string());
            line += " " + std::to_string(size) + " " + patchlib::Sha256::ToHex(content);
            digest.bytes += size;
        }
        line += '\n';
        whole.Update(line.data(), line.size());
    }
    digest.hash = patchlib::Sha256::ToHex(whole.Final());
    return digest;
}

// What a step's output is made from; the output is kept while this matches.
std::string Recipe(const TreeDigest& from, const TreeDigest& to, const patchlib::KeyPair* key) {
    std::string text = "format " + std::to_string(patchlib::PatchFormat::kVersion) + " from " +
                       from.hash + " to " + to.hash;
    if (key) text += " signed by " + patchlib::PatchSignature::ShortId(key->publicKey);
    return patchlib::Sha256::ToHex(patchlib::Sha256::Of(text.data(), text.size()));
}

std::string HashOfFile(const fs::path& file) {
    uint64_t size = 0;
    patchlib::Digest digest{};
    return patchlib::Sha256::OfFile(file, size, digest) ? patchlib::Sha256::ToHex(digest) : "";
}

// Only names of this form are ever removed from the output directory.
bool IsStepName(const std::string& name) {
    size_t to = name.find("to");
    uint32_t version = 0;
    return to != std::string::npos && name.size() > 4 &&
           name.compare(name.size() - 4, 4, ".rtp") == 0 &&
           ParseVersion(name.substr(0, to), &version) &&
           ParseVersion(name.substr(to + 2, name.size() - 4 - to - 2), &version);
}

struct Record {
    std::string recipe, output;
};
using State = std::map<std::string, Record>;  // by output file name

State LoadState(const fs::path& out) {
    State state;
    std::ifstream in(out / kStateFile);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string name;
        Record record;
        if (fields >> name >> record.recipe >> record.output && IsStepName(name))
            state[name] = record;
    }
    return state;
}

// Written whole beside its place, then moved in: never half a file.
void WriteText(const fs::path& path, const std::string& text) {
    fs::path temp = path;
    temp += ".tmp";
    {
        std::ofstream file(temp, std::ios::binary | std::ios::trunc);
        file << text;
        if (!file.flush()) throw std::runtime_error("cannot write " + temp.u8string());
    }
    fs::rename(temp, path);
}

void SaveState(const fs::path& out, const State& state) {
    std::string text = "# mkrelease: each patch here, what it was built from and its SHA-256\n";
    for (const auto& [name, record] : state)
        text += name + " " + record.recipe + " " + record.output + "\n";
    WriteText(out / kStateFile, text);
}

// Runs work(0) ... work(count - 1) on `jobs` threads; the first exception
// thrown is rethrown once all have stopped.
void ForEach(size_t count, unsigned jobs, const std::function<void(size_t)>& work) {
    std::atomic<size_t> next{0};
    std::exception_ptr failure;
    std::mutex failureLock;
    auto worker = [&] {
        for (size_t i; (i = next++) < count;) {
            try {
                work(i);
            } catch (...) {
                std::lock_guard<std::mutex> guard(failureLock);
                if (!failure) failure = std::current_exception();
            }
        }
    };
    std::vector<std::thread> threads;
    for (unsigned t = 1; t < std::min<size_t>(jobs, count); ++t) threads.emplace_back(worker);
    worker();
    for (auto& thread : threads) thread.join();
    if (failure) std::rethrow_exception(failure);
}

// Progress summed over the steps being built, reported one call at a time.
class ProgressTotal {
public:
    ProgressTotal(const Options& options, size_t steps, uint64_t bytes) : options_(options) {
        progress_.stepsToBuild = steps;
        progress_.bytesTotal = bytes;
    }
    void Add(uint64_t bytes, bool stepDone) {
        if (!options_.progress) return;
        std::lock_guard<std::mutex> guard(lock_);
        progress_.bytesDone += bytes;
        progress_.stepsDone += stepDone ? 1 : 0;
        options_.progress(progress_);
    }

private:
    const Options& options_;
    std::mutex lock_;
    Progress progress_;
};

// Builds one step into place and returns the finished file's hash. Anything
// that still changes the file belongs before that hash is taken.
std::string BuildStep(const fs::path& trees, const fs::path& out, StepResult& result,
                      ProgressTotal& progress, const patchlib::KeyPair* key) {
    const Step& step = result.step;
    const fs::path file = out / step.Name();
    uint64_t reported = 0;
    patchlib::BuildOptions build;
    build.signingKey = key;
    build.progress = [&](uint64_t done, uint64_t, const std::string&) {
        progress.Add(done - reported, false);
        reported = done;
    };
    Clock::time_point start = Clock::now();
    // Built beside its place and moved in whole: a patch server serving
    // this directory never opens half a patch.
    fs::path temp = file;
    temp += ".tmp";
    try {
        result.patchBytes =
            patchlib::PatchBuilder::Build(trees / std::to_string(step.from),
                                          trees / std::to_string(step.to), temp, build)
                .patchBytes;
        fs::rename(temp, file);
    } catch (...) {
        std::error_code ignored;
        fs::remove(temp, ignored);
        throw;
    }
    result.seconds = SecondsSince(start);
    result.built = true;
    progress.Add(0, true);
    return HashOfFile(file);
}

std::string Manifest(const std::vector<StepResult>& results) {
    std::vector<Step> served;
    for (const StepResult& result : results)
        if (result.step.to > result.step.from) served.push_back(result.step);
    std::sort(served.begin(), served.end(), [](const Step& a, const Step& b) {
        return a.from != b.from ? a.from < b.from : a.to < b.to;
    });
    std::string text = "# FROM TO FILE: the patch server hands out the step that goes furthest\n";
    for (const Step& step : served)
        text +=
            std::to_string(step.from) + " " + std::to_string(step.to) + " " + step.Name() + "\n";
    return text;
}

}  // namespace

std::vector<uint32_t> FindVersions(const fs::path& trees) {
    std::error_code ec;
    if (!fs::is_directory(trees, ec))
        throw InputError(trees.u8string() + " is not a directory of numbered game trees");
    std::vector<uint32_t> versions;
    for (const auto& entry : fs::directory_iterator(trees)) {
        std::string name = entry.path().filename().u8string();
        uint32_t version = 0;
        if (!ParseVersion(name, &version) || !entry.is_directory())
            throw InputError(entry.path().u8string() +
                             " is not a game tree: TREES holds only directories named 1, 2, 3...");
        versions.push_back(version);
    }
    std::sort(versions.begin(), versions.end());
    if (versions.size() < 2)
        throw InputError(trees.u8string() + " holds " + std::to_string(versions.size()) +
                         " game tree(s); a release needs at least two");
    for (size_t i = 1; i < versions.size(); ++i)
        if (versions[i] != versions[i - 1] + 1)
            throw InputError("no game tree for version " + std::to_string(versions[i - 1] + 1) +
                             " between " + std::to_string(versions[i - 1]) + " and " +
                             std::to_string(versions[i]) + " in " + trees.u8string());
    return versions;
}

std::vector<Step> PlanSteps(uint32_t first, uint32_t last, uint32_t direct) {
    std::vector<Step> steps;
    for (uint32_t v = first; v < last; ++v) steps.push_back({v, v + 1, false});
    for (uint32_t v = first; v < last; ++v) steps.push_back({v + 1, v, false});
    uint32_t oldest = last - first > direct ? last - direct : first;
    for (uint32_t v = oldest; v + 1 < last; ++v) steps.push_back({v, last, true});
    return steps;
}

Report BuildRelease(const fs::path& trees, const fs::path& out, const Options& options) {
    Clock::time_point start = Clock::now();
    std::vector<uint32_t> versions = FindVersions(trees);
    std::error_code ec;
    fs::create_directories(out, ec);
    if (!fs::is_directory(out, ec))
        throw InputError("cannot make the output directory " + out.u8string());
    const uint32_t first = versions.front();
    std::vector<TreeDigest> digests(versions.size());
    ForEach(versions.size(), options.jobs,
            [&](size_t i) { digests[i] = DigestTree(trees / std::to_string(versions[i])); });

    // Keep what still matches the last run; the rest is built anew.
    Report report;
    State last = LoadState(out);
    std::vector<std::string> recipes;
    for (const Step& step : PlanSteps(first, versions.back(), options.direct)) {
        StepResult result;
        result.step = step;
        result.newTreeBytes = digests[step.to - first].bytes;
        report.steps.push_back(result);
        recipes.push_back(
            Recipe(digests[step.from - first], digests[step.to - first], options.signingKey));
    }
    std::vector<std::string> outputs(report.steps.size());  // hash of each output kept or built
    ForEach(report.steps.size(), options.jobs, [&](size_t i) {
        auto found = last.find(report.steps[i].step.Name());
        if (found != last.end() && found->second.recipe == recipes[i] &&
            found->second.output == HashOfFile(out / found->first))
            outputs[i] = found->second.output;
    });
    std::vector<size_t> toBuild;
    uint64_t bytesToRead = 0;
    for (size_t i = 0; i < report.steps.size(); ++i) {
        StepResult& result = report.steps[i];
        last.erase(result.step.Name());
        if (!outputs[i].empty()) {
            result.patchBytes = fs::file_size(out / result.step.Name());
            continue;
        }
        toBuild.push_back(i);
        bytesToRead += digests[result.step.from - first].bytes + result.newTreeBytes;
    }
    // Outputs of an earlier release that this one no longer has.
    for (const auto& gone : last) fs::remove(out / gone.first, ec);
    if (!toBuild.empty() || !last.empty()) fs::remove(out / kManifest, ec);

    // The biggest steps first: the last one to start is then a short one.
    auto cost = [&](size_t i) {
        return digests[report.steps[i].step.from - first].bytes + report.steps[i].newTreeBytes;
    };
    std::stable_sort(toBuild.begin(), toBuild.end(),
                     [&](size_t a, size_t b) { return cost(a) > cost(b); });
    ProgressTotal progress(options, toBuild.size(), bytesToRead);
    ForEach(toBuild.size(), options.jobs, [&](size_t k) {
        StepResult& result = report.steps[toBuild[k]];
        try {
            outputs[toBuild[k]] = BuildStep(trees, out, result, progress, options.signingKey);
        } catch (const std::exception& error) {
            result.error = error.what();
        }
    });
    State next;
    for (size_t i = 0; i < report.steps.size(); ++i) {
        if (report.steps[i].error.empty())
            next[report.steps[i].step.Name()] = {recipes[i], outputs[i]};
        else
            report.ok = false;
    }
    SaveState(out, next);
    if (report.ok) WriteText(out / kManifest, Manifest(report.steps));
    report.seconds = SecondsSince(start);
    return report;
}

}  // namespace release

#include "leftover_list.h"

#include <algorithm>

#include "common/binary_file.h"
#include "durable_fs.h"
#include "names/patch_path.h"

namespace patchlib {

namespace fs = std::filesystem;

namespace {

const std::string kMagic = "MRLGONE1\n";
// A few names a release; more than this was not written by us (and the
// checks below, each entry against the others, stay cheap).
const uintmax_t kMaxBytes = 1 << 20;
const size_t kMaxEntries = 4096;

}  // namespace

LeftoverList::LeftoverList(const fs::path& root, const StepFilter& allowStep)
    : root_(root), list_(root / kGoneListName), allowStep_(allowStep) {}

bool LeftoverList::Allow(const char* step, const fs::path& path) const {
    return !allowStep_ || allowStep_(step, path);
}

fs::path LeftoverList::Waiting(const std::string& path) const {
    return WithSuffix(root_ / fs::u8path(path), kGoneSuffix);
}

bool LeftoverList::RemoveIfThere(const fs::path& path) const {
    if (!fs::exists(StatusOf(path))) return true;
    return Allow("remove", path) && RemovePlainFile(path);
}

std::vector<std::string> LeftoverList::Read() const {
    std::vector<std::string> paths;
    std::string bytes;
    std::error_code ec;
    if (!fs::is_regular_file(StatusOf(list_)) || fs::file_size(list_, ec) > kMaxBytes || ec ||
        !ReadWholeFile(list_, bytes) || bytes.compare(0, kMagic.size(), kMagic) != 0)
        return paths;
    for (size_t at = kMagic.size(), end;
         paths.size() < kMaxEntries && (end = bytes.find('\n', at)) != std::string::npos;
         at = end + 1) {
        std::string line = bytes.substr(at, end - at);
        const bool directory = !line.empty() && line.back() == '/';
        if (PatchPath::IsSafe(directory ? line.substr(0, line.size() - 1) : line) &&
            std::find(paths.begin(), paths.end(), line) == paths.end())
            paths.push_back(std::move(line));
    }
    return paths;
}

// Written beside and moved over the old list: a stop leaves one list or the other.
bool LeftoverList::Write(const std::vector<std::string>& paths) const {
    if (paths.empty()) return RemoveIfThere(list_);
    std::string bytes = kMagic;
    for (const std::string& path : paths) bytes += path + '\n';
    const fs::path temp = WithSuffix(list_, kNewSuffix);
    BinaryFile out;
    if (!RemoveIfThere(temp) || !Allow("list", list_) || !out.CreateNew(temp)) return false;
    const bool written = out.Write(bytes.data(), bytes.size()) && out.Sync() && out.Close();
    if (written && MoveReplacing(temp, list_)) {
        SyncDirectory(root_);
        return true;
    }
    out.Close();
    RemovePlainFile(temp);
    return false;
}

bool LeftoverList::PutAside(const std::vector<std::string>& paths,
                            const std::vector<std::string>& doomedDirs) const {
    std::vector<std::string> listed = Read();
    auto add = [&](const std::string& line) {
        if (std::find(listed.begin(), listed.end(), line) == listed.end()) listed.push_back(line);
    };
    for (const std::string& path : paths) add(path);
    for (const std::string& directory : doomedDirs) add(directory + '/');
    if (!Write(listed)) return false;
    bool ok = true;
    for (const std::string& path : paths) {
        const fs::path backup = WithSuffix(root_ / fs::u8path(path), kOldSuffix);
        // An earlier run's waiting file is free by now, or this one stays a backup.
        ok = ok && RemoveIfThere(Waiting(path)) && Allow("put-aside", backup) &&
             MoveToNewName(backup, Waiting(path));
    }
    return ok;
}

void LeftoverList::Clear() const {
    if (!fs::exists(StatusOf(list_))) return;
    const std::vector<std::string> listed = Read();
    std::vector<std::string> kept;
    for (const std::string& path : listed) {
        // Not ours, or not to be reached: dropped, never followed.
        if (path.back() == '/' || LinkOnTheWay(root_, path) || !PlainOrAbsent(Waiting(path)))
            continue;
        if (!RemoveIfThere(Waiting(path))) kept.push_back(path);
    }
    // Children before parents; a directory stays listed while a waiting file keeps it.
    std::vector<std::string> keptDirs;
    for (auto it = listed.rbegin(); it != listed.rend(); ++it) {
        if (it->back() != '/' || LinkOnTheWay(root_, *it)) continue;
        const fs::path directory = root_ / fs::u8path(*it);
        std::error_code ec;
        if (fs::is_directory(StatusOf(directory)) && fs::is_empty(directory, ec) &&
            Allow("rmdir", directory))
            fs::remove(directory, ec);
        const bool keeps = std::any_of(kept.begin(), kept.end(), [&](const std::string& path) {
            return path.compare(0, it->size(), *it) == 0;
        });
        if (keeps && fs::exists(StatusOf(directory))) keptDirs.insert(keptDirs.begin(), *it);
    }
    kept.insert(kept.end(), keptDirs.begin(), keptDirs.end());
    Write(kept);
}

}  // namespace patchlib

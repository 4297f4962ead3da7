#include "builder/patch_builder.h"

#include <map>
#include <set>

#include "common/binary_file.h"
#include "common/patch_error.h"
#include "names/patch_path.h"
#include "format/patch_writer.h"
#include "crypto/sha256.h"
#include "inflated_form.h"
#include "builder/tree_scanner.h"
#include "zlib/zlib_writer.h"

namespace patchlib {

namespace fs = std::filesystem;

namespace {

using Tree = std::map<std::string, TreeItem>;

void CheckPaths(const Tree& tree) {
    std::map<std::string, std::string> folded;
    for (const auto& [path, item] : tree) {
        if (!PatchPath::IsSafe(path))
            throw PatchError(PatchResult::UnsafePath, "this name cannot go into a patch: " + path);
        auto [it, inserted] = folded.emplace(PatchPath::FoldCase(path), path);
        if (!inserted)
            throw PatchError(
                PatchResult::UnsafePath,
                "names differ only in case (one file on Windows): " + it->second + ", " + path);
    }
}

Digest HashOf(const fs::path& file, uint64_t expectedSize) {
    uint64_t size = 0;
    Digest digest{};
    if (!Sha256::OfFile(file, size, digest))
        throw PatchError(PatchResult::CannotReadPatch, "cannot read " + file.u8string());
    if (size != expectedSize)
        throw PatchError(PatchResult::CannotReadPatch,
                         file.u8string() + " changed while the patch was built");
    return digest;
}

std::string ReadAll(const fs::path& file) {
    std::string data;
    if (!ReadWholeFile(file, data))
        throw PatchError(PatchResult::CannotReadPatch, "cannot read " + file.u8string());
    return data;
}

class TreeDiff {
public:
    TreeDiff(const fs::path& oldRoot, const fs::path& newRoot, const fs::path& out,
             const BuildOptions& options)
        : oldRoot_(oldRoot),
          newRoot_(newRoot),
          writer_(out, options.signingKey),
          options_(options) {}

    BuildSummary Run() {
        Tree oldTree = TreeScanner::Scan(oldRoot_);
        Tree newTree = TreeScanner::Scan(newRoot_);
        CheckPaths(newTree);
        CheckPaths(oldTree);
        CheckKinds(oldTree, newTree);
        for (const auto& [path, item] : oldTree) summary_.oldTreeBytes += item.size;
        for (const auto& [path, item] : newTree) summary_.newTreeBytes += item.size;

        AddDirectories(oldTree, newTree);
        std::set<std::string> files;
        for (const auto& [path, item] : oldTree)
            if (!item.isDirectory) files.insert(path);
        for (const auto& [path, item] : newTree)
            if (!item.isDirectory) files.insert(path);
        uint64_t done = 0, total = summary_.oldTreeBytes + summary_.newTreeBytes;
        for (const std::string& path : files) {
            if (options_.progress) options_.progress(done, total, path);
            auto oldIt = oldTree.find(path);
            auto newIt = newTree.find(path);
            const TreeItem* oldItem = oldIt == oldTree.end() ? nullptr : &oldIt->second;
            const TreeItem* newItem = newIt == newTree.end() ? nullptr : &newIt->second;
            AddFile(path, oldItem, newItem);
            done += (oldItem ? oldItem->size : 0) + (newItem ? newItem->size : 0);
        }
        RemoveDirectories(oldTree, newTree);
        if (options_.progress) options_.progress(total, total, "");
        summary_.patchBytes = writer_.Finish();
        return summary_;
    }

private:
    static void CheckKinds(const Tree& oldTree, const Tree& newTree) {
        for (const auto& [path, item] : newTree) {
            auto it = oldTree.find(path);
            if (it != oldTree.end() && it->second.isDirectory != item.isDirectory)
                throw PatchError(PatchResult::TreeMismatch,
                                 path +
                                     " is a file in one tree and a directory in the other; a patch "
                                     "cannot change that");
        }
    }

    void AddDirectories(const Tree& oldTree, const Tree& newTree) {
        for (const auto& [path, item] : newTree) {
            if (!item.isDirectory || oldTree.count(path)) continue;
            PatchEntry entry;
            entry.kind = EntryKind::AddDir;
            entry.path = path;
            writer_.Add(entry, {}, {});
            ++summary_.directoriesAdded;
        }
    }

    void RemoveDirectories(const Tree& oldTree, const Tree& newTree) {
        // Reverse order lists children before their parents.
        for (auto it = oldTree.rbegin(); it != oldTree.rend(); ++it) {
            if (!it->second.isDirectory || newTree.count(it->first)) continue;
            PatchEntry entry;
            entry.kind = EntryKind::DeleteDir;
            entry.path = it->first;
            writer_.Add(entry, {}, {});
            ++summary_.directoriesRemoved;
        }
    }

    void AddFile(const std::string& path, const TreeItem* oldItem, const TreeItem* newItem) {
        fs::path oldFile = oldRoot_ / fs::u8path(path);
        fs::path newFile = newRoot_ / fs::u8path(path);
        PatchEntry entry;
        entry.path = path;
        if (oldItem) {
            entry.oldSize = oldItem->size;
            entry.oldHash = HashOf(oldFile, oldItem->size);
        }
        if (newItem) {
            entry.newSize = newItem->size;
            entry.newHash = HashOf(newFile, newItem->size);
        }
        if (!newItem) {
            entry.kind = EntryKind::DeleteFile;
            writer_.Add(entry, {}, {});
            ++summary_.filesRemoved;
            summary_.bytesRemoved += oldItem->size;
        } else if (!oldItem) {
            entry.kind = EntryKind::AddFile;
            writer_.AddStored(entry, newFile);
            ++summary_.filesAdded;
            summary_.bytesAdded += newItem->size;
        } else if (entry.oldSize == entry.newSize && entry.oldHash == entry.newHash) {
            ++summary_.filesUnchanged;
        } else {
            AddChanged(entry, oldFile, newFile);
            ++summary_.filesChanged;
            summary_.bytesChanged += newItem->size;
        }
    }

    // The smallest of: the file stored whole, a delta of the bytes, and a
    // delta of the files with their deflate streams inflated.
    void AddChanged(PatchEntry& entry, const fs::path& oldFile, const fs::path& newFile) {
        if (entry.oldSize == 0 || entry.newSize == 0) {
            entry.kind = EntryKind::ReplaceFile;
            writer_.AddStored(entry, newFile);
            return;
        }
        std::string oldData = ReadAll(oldFile);
        std::string newData = ReadAll(newFile);
        if (Sha256::Of(oldData.data(), oldData.size()) != entry.oldHash ||
            Sha256::Of(newData.data(), newData.size()) != entry.newHash)
            throw PatchError(PatchResult::CannotReadPatch,
                             entry.path + " changed while the patch was built");
        std::vector<std::string> sections = {ZlibWriter::Compress(newData)};
        std::vector<uint64_t> sizes = {newData.size()};
        entry.kind = EntryKind::ReplaceFile;
        Offer(entry, EntryKind::DeltaFile, DeltaEncoder::Encode(oldData, newData, options_.window),
              {}, sections, sizes);
        InflatedForm inflated = InflatedForm::Of(oldData, newData, entry.newHash, options_.window);
        if (inflated.usable)
            Offer(
                entry,
                inflated.zipFields ? EntryKind::InflatedZipDeltaFile : EntryKind::InflatedDeltaFile,
                std::move(inflated.delta), {std::move(inflated.records), inflated.recordsSize},
                sections, sizes);
        if (entry.kind != EntryKind::ReplaceFile) ++summary_.deltas;
        if (entry.IsInflated()) ++summary_.inflatedDeltas;
        writer_.Add(entry, sections, sizes);
    }

    // Takes this form when it is smaller than the one chosen so far.
    static void Offer(PatchEntry& entry, EntryKind kind, DeltaStreams delta, DeltaSection first,
                      std::vector<std::string>& sections, std::vector<uint64_t>& sizes) {
        uint64_t total = delta.compressedSize() + first.compressed.size(), chosen = 0;
        for (const std::string& section : sections) chosen += section.size();
        if (total >= chosen) return;
        entry.kind = kind;
        sections.clear();
        sizes.clear();
        if (kind == EntryKind::InflatedDeltaFile || kind == EntryKind::InflatedZipDeltaFile) {
            sections.push_back(std::move(first.compressed));
            sizes.push_back(first.rawSize);
        }
        for (DeltaSection& section : delta.sections) {
            sections.push_back(std::move(section.compressed));
            sizes.push_back(section.rawSize);
        }
    }

    fs::path oldRoot_, newRoot_;
    PatchWriter writer_;
    const BuildOptions& options_;
    BuildSummary summary_;
};

}  // namespace

BuildSummary PatchBuilder::Build(const fs::path& oldRoot, const fs::path& newRoot,
                                 const fs::path& out, const BuildOptions& options) {
    TreeDiff diff(oldRoot, newRoot, out, options);
    return diff.Run();
}

}  // namespace patchlib

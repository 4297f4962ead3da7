// One operation of a patch on one path of the tree.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sha256.h"

namespace patchlib {

enum class EntryKind : uint8_t {
    AddFile = 1,      // new content stored whole; the path did not exist
    ReplaceFile = 2,  // new content stored whole; the old content is checked first
    DeleteFile = 3,   // the old content is checked, then the file goes
    DeltaFile = 4,    // new content rebuilt from the old one and a binary delta
    AddDir = 5,       // directory created
    DeleteDir = 6,    // directory removed once empty
};

struct Section {
    uint64_t compressedSize = 0;
    uint64_t rawSize = 0;
    uint64_t offset = 0;  // in the patch file; derived on reading, not stored
};

struct PatchEntry {
    EntryKind kind = EntryKind::AddFile;
    std::string path;  // relative, '/'-separated, UTF-8
    uint64_t oldSize = 0;
    Digest oldHash{};
    uint64_t newSize = 0;
    Digest newHash{};
    std::vector<Section> sections;

    bool HasOld() const {
        return kind == EntryKind::ReplaceFile || kind == EntryKind::DeleteFile ||
               kind == EntryKind::DeltaFile;
    }
    bool HasNew() const {
        return kind == EntryKind::AddFile || kind == EntryKind::ReplaceFile ||
               kind == EntryKind::DeltaFile;
    }
    bool IsDirectory() const { return kind == EntryKind::AddDir || kind == EntryKind::DeleteDir; }
    size_t SectionCount() const { return kind == EntryKind::DeltaFile ? 4 : HasNew() ? 1 : 0; }
};

}  // namespace patchlib

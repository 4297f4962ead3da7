// One operation of a patch on one path of the tree.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "crypto/sha256.h"

namespace patchlib {

enum class EntryKind : uint8_t {
    AddFile = 1,      // new content stored whole; the path did not exist
    ReplaceFile = 2,  // new content stored whole; the old content is checked first
    DeleteFile = 3,   // the old content is checked, then the file goes
    DeltaFile = 4,    // new content rebuilt from the old one and a binary delta
    AddDir = 5,       // directory created
    DeleteDir = 6,    // directory removed once empty
    // The delta works on both files with their deflate streams inflated; the
    // new file's streams are deflated again (patches with the streams flag only).
    InflatedDeltaFile = 7,
    // As InflatedDeltaFile, with the zip header fields of both expanded forms
    // recoded (deflate/zip_header_fields.h; patches with the zip fields flag only).
    InflatedZipDeltaFile = 8,
};

// The sections of a DeltaFile entry (FORMAT.md). Version 1 has four: control,
// diff runs, diff literals and extra, with the meaning of version 1.
enum DeltaSectionId : size_t {
    kLayout,
    kControl,
    kDiffRuns,
    kDiffLiterals,
    kExtra,
    kPlainExtra,
    kFieldOutcomes,
    kFieldValues,
    kDeltaSections,
    kDeltaSectionsV1 = 4,
};

// An InflatedDeltaFile or InflatedZipDeltaFile entry has the streams section
// (deflate/stream_records.h) and then the eight delta sections.
constexpr size_t kInflatedSections = 1 + kDeltaSections;

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

    bool IsInflated() const {
        return kind == EntryKind::InflatedDeltaFile || kind == EntryKind::InflatedZipDeltaFile;
    }
    bool HasOld() const {
        return kind == EntryKind::ReplaceFile || kind == EntryKind::DeleteFile ||
               kind == EntryKind::DeltaFile || IsInflated();
    }
    bool HasNew() const {
        return kind == EntryKind::AddFile || kind == EntryKind::ReplaceFile ||
               kind == EntryKind::DeltaFile || IsInflated();
    }
    bool IsDirectory() const { return kind == EntryKind::AddDir || kind == EntryKind::DeleteDir; }
    size_t SectionCount(uint32_t version) const {
        if (kind == EntryKind::DeltaFile) return version == 1 ? kDeltaSectionsV1 : kDeltaSections;
        if (IsInflated()) return kInflatedSections;
        return HasNew() ? 1 : 0;
    }
};

}  // namespace patchlib

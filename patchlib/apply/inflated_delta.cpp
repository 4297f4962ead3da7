#include "inflated_delta.h"

#include "common/binary_file.h"
#include "common/patch_error.h"
#include "deflate/stream_expander.h"
#include "deflate/stream_rebuilder.h"
#include "deflate/stream_records.h"
#include "deflate/zip_header_fields.h"
#include "delta/delta_applier.h"
#include "durable_fs.h"
#include "format/patch_format.h"

namespace patchlib {

namespace fs = std::filesystem;

namespace {

// The scratch file goes however the build ends; the journal removes it after a stop.
struct ScratchFile {
    explicit ScratchFile(fs::path where) : path(std::move(where)) {}
    ~ScratchFile() {
        file.Close();
        RemovePlainFile(path);
    }
    fs::path path;
    BinaryFile file;
};

uint64_t ExpandOld(const PatchReader& reader, const PatchEntry& entry, const fs::path& oldFile,
                   ScratchFile& scratch) {
    BinaryFile old;
    if (!old.Open(oldFile, BinaryFile::Mode::Read))
        throw PatchError(PatchResult::TreeMismatch, "cannot read " + entry.path);
    // Created like every file the applier makes: exclusively, never through a link.
    if (!scratch.file.CreateNew(scratch.path))
        throw PatchError(PatchResult::WriteFailed, "cannot create " + scratch.path.u8string());
    ZlibReader section;
    reader.OpenSection(entry.sections[0], section);
    const bool zip = entry.kind == EntryKind::InflatedZipDeltaFile;
    StreamRecordReader records(section, StreamRecordReader::Side::Old, zip);
    auto write = [&scratch](const void* data, size_t size) {
        if (!scratch.file.Write(data, size))
            throw PatchError(PatchResult::WriteFailed, "cannot write " + scratch.path.u8string());
    };
    uint64_t size;
    if (zip) {
        ZipHeaderFields fields(records.bases().oldBase, ZipHeaderFields::Direction::Encode, write);
        size = StreamExpander::Expand(
            old, entry.oldSize, records,
            [&fields](const void* data, size_t n) { fields.Write(data, n); });
        fields.Finish();
    } else {
        size = StreamExpander::Expand(old, entry.oldSize, records, write);
    }
    // Read back through the same stream, not reopened by name.
    if (!scratch.file.Flush() || !scratch.file.Seek(0))
        throw PatchError(PatchResult::WriteFailed, "cannot write " + scratch.path.u8string());
    return size;
}

// The size of the new file's expanded form, from its size and stream records.
uint64_t ExpandedNewSize(const PatchReader& reader, const PatchEntry& entry) {
    ZlibReader section;
    reader.OpenSection(entry.sections[0], section);
    StreamRecordReader records(section, StreamRecordReader::Side::New,
                               entry.kind == EntryKind::InflatedZipDeltaFile);
    uint64_t left = entry.newSize, expanded = entry.newSize;
    StreamRecord record;
    while (records.Next(record)) {
        if (record.gap > left || record.compressedSize > left - record.gap)
            throw PatchError(PatchResult::CorruptPatch,
                             "a deflate stream lies past the end of " + entry.path);
        left -= record.gap + record.compressedSize;
        expanded = expanded - record.compressedSize + record.rawSize;
    }
    return expanded;
}

}  // namespace

void InflatedDelta::Apply(const PatchReader& reader, const PatchEntry& entry,
                          const fs::path& oldFile, const fs::path& scratchPath, const Allow& allow,
                          const Sink& sink) {
    allow("create", scratchPath);
    ScratchFile scratch(scratchPath);
    const uint64_t oldExpanded = ExpandOld(reader, entry, oldFile, scratch);
    allow("expand", scratchPath);

    const uint64_t newExpanded = ExpandedNewSize(reader, entry);
    ZlibReader section;
    reader.OpenSection(entry.sections[0], section);
    const bool zip = entry.kind == EntryKind::InflatedZipDeltaFile;
    StreamRecordReader records(section, StreamRecordReader::Side::New, zip);
    StreamRebuilder rebuilder([&records](StreamRecord& record) { return records.Next(record); },
                              sink);
    // The new expanded form's zip header fields are decoded before the streams are rebuilt.
    ZipHeaderFields fields(
        records.bases().newBase, ZipHeaderFields::Direction::Decode,
        [&rebuilder](const void* data, size_t size) { rebuilder.Write(data, size); });
    DeltaApplier::Apply(
        scratch.file, oldExpanded, newExpanded, PatchFormat::kVersion,
        [&](DeltaSectionId id, ZlibReader& delta) {
            reader.OpenSection(entry.sections[1 + id], delta);
        },
        [&](const void* data, size_t size) {
            zip ? fields.Write(data, size) : rebuilder.Write(data, size);
        });
    fields.Finish();
    rebuilder.Finish();
}

}  // namespace patchlib

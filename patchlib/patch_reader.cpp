#include "patch_reader.h"

#include <set>
#include <vector>

#include "byte_order.h"
#include "patch_error.h"
#include "patch_format.h"
#include "patch_path.h"

namespace patchlib {

namespace {

[[noreturn]] void Corrupt(const std::string& what) {
    throw PatchError(PatchResult::CorruptPatch, what);
}

}  // namespace

void PatchReader::Open(const std::filesystem::path& file) {
    file_ = file;
    entries_.clear();
    BinaryFile in;
    if (!in.Open(file, BinaryFile::Mode::Read))
        throw PatchError(PatchResult::CannotReadPatch, "cannot open the patch file");
    int64_t size = in.Size();
    if (size < 0) throw PatchError(PatchResult::CannotReadPatch, "cannot read the patch file");
    unsigned char header[PatchFormat::kHeaderSize + PatchFormat::kDirectoryPrefixSize];
    if (static_cast<uint64_t>(size) < sizeof(header) || !in.ReadExact(header, sizeof(header)))
        Corrupt("the patch file is truncated");
    PatchHeader decoded = PatchFormat::DecodeHeader(header);
    if (decoded.fileSize != static_cast<uint64_t>(size))
        Corrupt(decoded.fileSize > static_cast<uint64_t>(size)
                    ? "the patch file is truncated"
                    : "the patch file has trailing bytes");
    VerifyBodyHash(in, static_cast<uint64_t>(size), decoded.bodyHash);
    ReadDirectory(static_cast<uint64_t>(size));
    CheckEntries();
}

void PatchReader::VerifyBodyHash(BinaryFile& in, uint64_t size, const Digest& expected) {
    if (!in.Seek(PatchFormat::kHeaderSize))
        throw PatchError(PatchResult::CannotReadPatch, "cannot read the patch file");
    Sha256 hash;
    std::vector<unsigned char> buffer(256 * 1024);
    for (uint64_t left = size - PatchFormat::kHeaderSize; left > 0;) {
        size_t want = left < buffer.size() ? static_cast<size_t>(left) : buffer.size();
        if (!in.ReadExact(buffer.data(), want)) Corrupt("the patch file is truncated");
        hash.Update(buffer.data(), want);
        left -= want;
    }
    if (hash.Final() != expected) Corrupt("the patch file is damaged (hash mismatch)");
}

void PatchReader::ReadDirectory(uint64_t size) {
    BinaryFile in;
    unsigned char prefix[PatchFormat::kDirectoryPrefixSize];
    if (!in.Open(file_, BinaryFile::Mode::Read) || !in.Seek(PatchFormat::kHeaderSize) ||
        !in.ReadExact(prefix, sizeof(prefix)))
        throw PatchError(PatchResult::CannotReadPatch, "cannot read the patch file");
    uint64_t compressed = GetLE(prefix, 8);
    uint64_t raw = GetLE(prefix + 8, 8);
    const uint64_t start = PatchFormat::kHeaderSize + PatchFormat::kDirectoryPrefixSize;
    if (raw > PatchFormat::kMaxDirectorySize || compressed > size - start)
        Corrupt("the patch directory is malformed");
    ZlibReader reader;
    reader.Open(file_, start, compressed, raw);
    std::string directory(static_cast<size_t>(raw), '\0');
    reader.ReadExact(directory.data(), directory.size());
    reader.ExpectEnd();
    entries_ = PatchFormat::DecodeDirectory(directory);
    PlaceSections(start + compressed, size);
}

void PatchReader::PlaceSections(uint64_t start, uint64_t size) {
    uint64_t pos = start;
    for (PatchEntry& entry : entries_) {
        for (Section& section : entry.sections) {
            if (section.compressedSize > size - pos)
                Corrupt("a patch section lies past the end of the file");
            section.offset = pos;
            pos += section.compressedSize;
        }
    }
    if (pos != size) Corrupt("the patch file has bytes outside its sections");
}

void PatchReader::CheckEntries() const {
    std::set<std::string> seen, files;
    for (const PatchEntry& entry : entries_) {
        if (!PatchPath::IsSafe(entry.path))
            throw PatchError(PatchResult::UnsafePath, "unsafe path in the patch: " + entry.path);
        std::string folded = PatchPath::FoldCase(entry.path);
        if (!seen.insert(folded).second) Corrupt("the patch names a path twice: " + entry.path);
        if (!entry.IsDirectory()) files.insert(folded);
        if ((entry.kind == EntryKind::AddFile || entry.kind == EntryKind::ReplaceFile) &&
            entry.sections[0].rawSize != entry.newSize)
            Corrupt("a stored file's size disagrees with the directory: " + entry.path);
    }
    // A file cannot also be a directory on the way to another entry.
    for (const PatchEntry& entry : entries_) {
        std::string folded = PatchPath::FoldCase(entry.path);
        for (size_t slash = folded.find('/'); slash != std::string::npos;
             slash = folded.find('/', slash + 1))
            if (files.count(folded.substr(0, slash)))
                Corrupt("the patch uses a file as a directory: " + entry.path);
    }
}

void PatchReader::OpenSection(const Section& section, ZlibReader& reader) const {
    reader.Open(file_, section.offset, section.compressedSize, section.rawSize);
}

}  // namespace patchlib

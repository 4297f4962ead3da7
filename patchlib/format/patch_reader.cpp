#include "format/patch_reader.h"

#include <set>
#include <vector>

#include "common/binary_file.h"
#include "common/byte_order.h"
#include "common/patch_error.h"
#include "format/patch_format.h"
#include "names/patch_path.h"
#include "format/patch_signature.h"
#include "zlib/zlib_writer.h"

namespace patchlib {

namespace {

[[noreturn]] void Corrupt(const std::string& what) {
    throw PatchError(PatchResult::CorruptPatch, what);
}

}  // namespace

void PatchReader::Open(const std::filesystem::path& file, const std::vector<PublicKey>& trusted) {
    entries_.clear();
    if (!file_.Open(file))
        throw PatchError(PatchResult::CannotReadPatch, "cannot open the patch file");
    int64_t size = file_.Size();
    if (size < 0) throw PatchError(PatchResult::CannotReadPatch, "cannot read the patch file");
    unsigned char header[PatchFormat::kHeaderSize + PatchFormat::kDirectoryPrefixSize];
    if (static_cast<uint64_t>(size) < sizeof(header) ||
        !file_.ReadExactAt(0, header, sizeof(header)))
        Corrupt("the patch file is truncated");
    PatchHeader decoded = PatchFormat::DecodeHeader(header);
    version_ = decoded.version;
    flags_ = decoded.flags;
    const uint64_t fileSize = static_cast<uint64_t>(size);
    if (decoded.bodyEnd > fileSize || decoded.bodyEnd < sizeof(header))
        Corrupt("the patch file is truncated");
    if (version_ == 1 && decoded.bodyEnd != fileSize) Corrupt("the patch file has trailing bytes");
    std::vector<std::string> signatures = ReadBlocks(decoded.bodyEnd, fileSize);
    // Before the body is read: an untrusted patch costs nothing more.
    if (!trusted.empty()) PatchSignature::Check(header, signatures, trusted);
    ReadDirectory(VerifyBodyHash(decoded.bodyEnd, decoded.bodyHash), decoded.bodyEnd);
    CheckEntries();
}

// Blocks after the body carry what may be added to the format later (each
// protects its own content): a block whose kind we do not know is skipped,
// unless it says the patch cannot be applied without it. Signature blocks
// are kept for the signature check.
std::vector<std::string> PatchReader::ReadBlocks(uint64_t bodyEnd, uint64_t size) {
    std::vector<std::string> signatures;
    for (uint64_t at = bodyEnd; at < size;) {
        unsigned char head[PatchFormat::kBlockHeaderSize];
        if (size - at < sizeof(head) || !file_.ReadExactAt(at, head, sizeof(head)))
            Corrupt("the patch file has trailing bytes");
        const uint64_t length = GetLE(head + 8, 8);
        if (GetLE(head + 4, 4) & PatchFormat::kBlockNeeded)
            Corrupt("the patch needs a feature this library does not have");
        if (length > size - at - sizeof(head)) Corrupt("a block of the patch file is truncated");
        if (GetLE(head, 4) == PatchSignature::kBlockType &&
            length == PatchSignature::kContentSize) {
            std::string content(PatchSignature::kContentSize, '\0');
            if (!file_.ReadExactAt(at + sizeof(head), content.data(), content.size()))
                throw PatchError(PatchResult::CannotReadPatch, "cannot read the patch file");
            signatures.push_back(std::move(content));
        }
        at += sizeof(head) + length;
    }
    return signatures;
}

// The directory is kept from the hashed bytes: what is decoded is what was verified.
std::string PatchReader::VerifyBodyHash(uint64_t size, const Digest& expected) {
    const uint64_t start = PatchFormat::kHeaderSize + PatchFormat::kDirectoryPrefixSize;
    std::string directory(PatchFormat::kDirectoryPrefixSize, '\0');
    if (!file_.ReadExactAt(PatchFormat::kHeaderSize, directory.data(), directory.size()))
        Corrupt("the patch file is truncated");
    const auto* prefix = reinterpret_cast<const unsigned char*>(directory.data());
    const uint64_t compressed = GetLE(prefix, 8), raw = GetLE(prefix + 8, 8);
    // Deflate makes a directory at most slightly larger; more would only be memory spent.
    if (raw > PatchFormat::kMaxDirectorySize || compressed > size - start ||
        compressed > raw + raw / 8 + 1024)
        Corrupt("the patch directory is malformed");
    directory.resize(PatchFormat::kDirectoryPrefixSize + static_cast<size_t>(compressed));
    if (!file_.ReadExactAt(start, &directory[PatchFormat::kDirectoryPrefixSize],
                           static_cast<size_t>(compressed)))
        Corrupt("the patch file is truncated");
    Sha256 hash;
    hash.Update(directory.data(), directory.size());
    const size_t kBuffer = 64 * 1024;
    Buffer buffer = NewBuffer(kBuffer);
    for (uint64_t at = start + compressed; at < size;) {
        size_t want = size - at < kBuffer ? static_cast<size_t>(size - at) : kBuffer;
        if (!file_.ReadExactAt(at, buffer.get(), want)) Corrupt("the patch file is truncated");
        hash.Update(buffer.get(), want);
        at += want;
    }
    if (hash.Final() != expected) Corrupt("the patch file is damaged (hash mismatch)");
    return directory;
}

void PatchReader::ReadDirectory(const std::string& bytes, uint64_t size) {
    const auto* prefix = reinterpret_cast<const unsigned char*>(bytes.data());
    const uint64_t raw = GetLE(prefix + 8, 8);
    const size_t compressed = bytes.size() - PatchFormat::kDirectoryPrefixSize;
    ZlibReader reader;
    reader.OpenBytes(prefix + PatchFormat::kDirectoryPrefixSize, compressed, raw);
    std::string directory(static_cast<size_t>(raw), '\0');
    reader.ReadExact(directory.data(), directory.size());
    reader.ExpectEnd();
    std::string zlibVersion;
    entries_ = PatchFormat::DecodeDirectory(directory, version_, flags_, &zlibVersion);
    if (flags_ & PatchFormat::kFlagDeflateStreams) CheckZlibVersion(zlibVersion);
    PlaceSections(PatchFormat::kHeaderSize + bytes.size(), size);
}

// The streams of InflatedDeltaFile entries are rebuilt by deflating again:
// only the zlib that found their parameters is known to give the same bytes.
// zlib keeps its output from one release to the next in most cases, but not
// all (level 0 changed in 1.2.11), so the version must be the same release.
void PatchReader::CheckZlibVersion(const std::string& recorded) const {
    const std::string ours = ZlibWriter::LibraryVersion();
    if (recorded != ours)
        Corrupt("the patch was made with zlib " + recorded + ", this library has zlib " + ours);
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

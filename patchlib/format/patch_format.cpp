#include "format/patch_format.h"

#include <cstring>

#include "common/byte_order.h"
#include "common/patch_error.h"

namespace patchlib {

namespace {

[[noreturn]] void Corrupt(const char* what) { throw PatchError(PatchResult::CorruptPatch, what); }

// Bounds-checked reading of the raw directory.
class Cursor {
public:
    explicit Cursor(const std::string& data) : data_(data) {}
    uint64_t Number(int bytes) {
        Need(static_cast<size_t>(bytes));
        uint64_t value = GetLE(reinterpret_cast<const unsigned char*>(data_.data()) + pos_, bytes);
        pos_ += static_cast<size_t>(bytes);
        return value;
    }
    std::string Bytes(size_t size) {
        Need(size);
        std::string out = data_.substr(pos_, size);
        pos_ += size;
        return out;
    }
    void Hash(Digest& digest) {
        Need(digest.size());
        std::memcpy(digest.data(), data_.data() + pos_, digest.size());
        pos_ += digest.size();
    }
    bool AtEnd() const { return pos_ == data_.size(); }
    size_t Left() const { return data_.size() - pos_; }

private:
    void Need(size_t size) {
        if (size > data_.size() - pos_) Corrupt("the patch directory is truncated");
    }
    const std::string& data_;
    size_t pos_ = 0;
};

}  // namespace

constexpr char PatchFormat::kMagic[9];

std::string PatchFormat::EncodeHeader(const PatchHeader& header) {
    std::string out(kMagic, 8);
    PutLE(out, header.version, 4);
    PutLE(out, header.flags, 4);
    PutLE(out, header.bodyEnd, 8);
    out.append(reinterpret_cast<const char*>(header.bodyHash.data()), header.bodyHash.size());
    return out;
}

PatchHeader PatchFormat::DecodeHeader(const unsigned char* bytes) {
    if (std::memcmp(bytes, kMagic, 8) != 0) Corrupt("not a patch file");
    PatchHeader header;
    header.version = static_cast<uint32_t>(GetLE(bytes + 8, 4));
    header.flags = static_cast<uint32_t>(GetLE(bytes + 12, 4));
    header.bodyEnd = GetLE(bytes + 16, 8);
    std::memcpy(header.bodyHash.data(), bytes + 24, header.bodyHash.size());
    if (header.version != 1 && header.version != kVersion)
        Corrupt("unsupported patch format version");
    // A flag names a feature a reader must know to apply the patch. Features
    // a reader may ignore come as blocks after the body.
    const uint32_t known = header.version == 1 ? 0 : kFlagDeflateStreams | kFlagZipFields;
    if (header.flags & ~known) Corrupt("unknown patch flags");
    if ((header.flags & kFlagZipFields) && !(header.flags & kFlagDeflateStreams))
        Corrupt("the zip fields flag without the deflate streams flag");
    return header;
}

std::string PatchFormat::EncodeDirectory(const std::vector<PatchEntry>& entries, uint32_t flags,
                                         const std::string& zlibVersion) {
    std::string out;
    if (flags & kFlagDeflateStreams) {
        PutLE(out, zlibVersion.size(), 1);
        out += zlibVersion;
    }
    PutLE(out, entries.size(), 4);
    for (const PatchEntry& entry : entries) {
        out.push_back(static_cast<char>(entry.kind));
        PutLE(out, entry.path.size(), 2);
        out += entry.path;
        if (entry.HasOld()) {
            PutLE(out, entry.oldSize, 8);
            out.append(reinterpret_cast<const char*>(entry.oldHash.data()), entry.oldHash.size());
        }
        if (entry.HasNew()) {
            PutLE(out, entry.newSize, 8);
            out.append(reinterpret_cast<const char*>(entry.newHash.data()), entry.newHash.size());
        }
        for (const Section& section : entry.sections) {
            PutLE(out, section.compressedSize, 8);
            PutLE(out, section.rawSize, 8);
        }
    }
    return out;
}

std::vector<PatchEntry> PatchFormat::DecodeDirectory(const std::string& raw, uint32_t version,
                                                     uint32_t flags, std::string* zlibVersion) {
    Cursor in(raw);
    const bool streams = flags & kFlagDeflateStreams;
    if (streams) {
        std::string recorded = in.Bytes(static_cast<size_t>(in.Number(1)));
        if (zlibVersion) *zlibVersion = std::move(recorded);
    }
    uint64_t count = in.Number(4);
    // Each entry takes at least four bytes: no count can promise more than that.
    if (count > in.Left() / 4) Corrupt("the patch directory is truncated");
    std::vector<PatchEntry> entries(static_cast<size_t>(count));
    for (PatchEntry& entry : entries) {
        uint64_t kind = in.Number(1);
        const uint64_t last = (flags & kFlagZipFields) ? 8 : streams ? 7 : 6;
        if (kind < 1 || kind > last) Corrupt("unknown entry kind in the patch");
        entry.kind = static_cast<EntryKind>(kind);
        entry.path = in.Bytes(static_cast<size_t>(in.Number(2)));
        if (entry.HasOld()) {
            entry.oldSize = in.Number(8);
            in.Hash(entry.oldHash);
        }
        if (entry.HasNew()) {
            entry.newSize = in.Number(8);
            in.Hash(entry.newHash);
        }
        entry.sections.resize(entry.SectionCount(version));
        for (Section& section : entry.sections) {
            section.compressedSize = in.Number(8);
            section.rawSize = in.Number(8);
        }
    }
    if (!in.AtEnd()) Corrupt("the patch directory has trailing bytes");
    return entries;
}

}  // namespace patchlib

#include "format/patch_writer.h"

#include "common/byte_order.h"
#include "common/patch_error.h"
#include "format/patch_format.h"
#include "format/patch_signature.h"
#include "crypto/sha256.h"
#include "zlib/zlib_writer.h"

namespace patchlib {

namespace fs = std::filesystem;

namespace {

[[noreturn]] void CannotWrite(const fs::path& path) {
    throw PatchError(PatchResult::WriteFailed, "cannot write " + path.u8string());
}

fs::path Sibling(const fs::path& out, const char* suffix) {
    fs::path path = out;
    path += suffix;
    return path;
}

}  // namespace

PatchWriter::PatchWriter(const fs::path& out, const KeyPair* signingKey)
    : out_(out),
      payloadPath_(Sibling(out, ".payload.tmp")),
      tempPath_(Sibling(out, ".tmp")),
      signingKey_(signingKey),
      zlibVersion_(ZlibWriter::LibraryVersion()) {
    if (!payload_.Open(payloadPath_, BinaryFile::Mode::Write)) CannotWrite(payloadPath_);
}

PatchWriter::~PatchWriter() {
    payload_.Close();
    std::error_code ec;
    fs::remove(payloadPath_, ec);
    if (!finished_) fs::remove(tempPath_, ec);
}

void PatchWriter::WritePayload(const void* data, size_t size) {
    if (!payload_.Write(data, size)) CannotWrite(payloadPath_);
}

void PatchWriter::Add(PatchEntry entry, const std::vector<std::string>& compressed,
                      const std::vector<uint64_t>& rawSizes) {
    entry.sections.clear();
    for (size_t i = 0; i < compressed.size(); ++i) {
        Section section;
        section.compressedSize = compressed[i].size();
        section.rawSize = i < rawSizes.size() ? rawSizes[i] : 0;
        entry.sections.push_back(section);
        WritePayload(compressed[i].data(), compressed[i].size());
    }
    entries_.push_back(std::move(entry));
}

void PatchWriter::AddStored(PatchEntry entry, const fs::path& source) {
    BinaryFile in;
    if (!in.Open(source, BinaryFile::Mode::Read))
        throw PatchError(PatchResult::CannotReadPatch, "cannot read " + source.u8string());
    ZlibWriter writer([this](const void* data, size_t size) { WritePayload(data, size); });
    std::vector<unsigned char> buffer(256 * 1024);
    for (;;) {
        size_t got = in.Read(buffer.data(), buffer.size());
        if (got == 0) break;
        writer.Write(buffer.data(), got);
    }
    writer.Finish();
    if (writer.rawSize() != entry.newSize)
        throw PatchError(PatchResult::CannotReadPatch,
                         source.u8string() + " changed while the patch was built");
    Section section;
    section.compressedSize = writer.compressedSize();
    section.rawSize = writer.rawSize();
    entry.sections.assign(1, section);
    entries_.push_back(std::move(entry));
}

uint64_t PatchWriter::Finish() {
    if (!payload_.Close()) CannotWrite(payloadPath_);
    uint32_t flags = 0;
    for (const PatchEntry& entry : entries_) {
        if (entry.IsInflated()) flags |= PatchFormat::kFlagDeflateStreams;
        if (entry.kind == EntryKind::InflatedZipDeltaFile) flags |= PatchFormat::kFlagZipFields;
    }
    std::string directory = PatchFormat::EncodeDirectory(entries_, flags, zlibVersion_);
    std::string compressed = ZlibWriter::Compress(directory);

    BinaryFile out;
    if (!out.Open(tempPath_, BinaryFile::Mode::Write)) CannotWrite(tempPath_);
    std::string front(PatchFormat::kHeaderSize, '\0');
    PutLE(front, compressed.size(), 8);
    PutLE(front, directory.size(), 8);
    front += compressed;
    Sha256 hash;
    hash.Update(front.data() + PatchFormat::kHeaderSize, front.size() - PatchFormat::kHeaderSize);
    if (!out.Write(front.data(), front.size())) CannotWrite(tempPath_);
    uint64_t size = front.size();

    BinaryFile payload;
    if (!payload.Open(payloadPath_, BinaryFile::Mode::Read)) CannotWrite(payloadPath_);
    std::vector<unsigned char> buffer(256 * 1024);
    for (;;) {
        size_t got = payload.Read(buffer.data(), buffer.size());
        if (got == 0) break;
        hash.Update(buffer.data(), got);
        if (!out.Write(buffer.data(), got)) CannotWrite(tempPath_);
        size += got;
    }
    PatchHeader header;
    header.version = PatchFormat::kVersion;
    header.flags = flags;
    header.bodyEnd = size;
    header.bodyHash = hash.Final();
    std::string encoded = PatchFormat::EncodeHeader(header);
    if (!out.Seek(0) || !out.Write(encoded.data(), encoded.size())) CannotWrite(tempPath_);
    if (signingKey_) {
        const std::string block = PatchSignature::MakeBlock(
            reinterpret_cast<const unsigned char*>(encoded.data()), *signingKey_);
        if (!out.Seek(size) || !out.Write(block.data(), block.size())) CannotWrite(tempPath_);
        size += block.size();
    }
    if (!out.Close()) CannotWrite(tempPath_);
    payload.Close();

    std::error_code ec;
    fs::remove(out_, ec);
    fs::rename(tempPath_, out_, ec);
    if (ec) CannotWrite(out_);
    finished_ = true;
    return size;
}

}  // namespace patchlib

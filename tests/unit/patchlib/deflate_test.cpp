// Deflate streams inside files: found in zip, gzip and zlib containers, their
// zlib parameters recovered, and patches that carry the change inside them.
#include <gtest/gtest.h>
#include <zlib.h>

#include "apply/patch_applier.h"
#include "builder/patch_builder.h"
#include "common/byte_order.h"
#include "deflate/stream_expander.h"
#include "deflate/stream_finder.h"
#include "deflate/stream_records.h"
#include "deflate/zip_header_fields.h"
#include "delta/delta_encoder.h"
#include "format/patch_format.h"
#include "format/patch_reader.h"
#include "format/patch_writer.h"
#include "patch_kit.h"
#include "zlib/zlib_writer.h"

namespace {

using namespace patchlib;
using namespace patchtest;

// Lines picked from a small vocabulary: repeats at every distance, so the
// levels and strategies give different bytes.
std::string Records(uint32_t seed, size_t lines) {
    static const char* const words[] = {"npc",  "zone=North", "hp=120", "gold", "quest_",
                                        "door", "item:sword", "x=",     "y=",   "flag"};
    std::mt19937 random(seed);
    std::string out;
    for (size_t i = 0; i < lines; ++i) {
        for (int w = 0; w < 4; ++w) out += std::string(words[random() % 10]) + " ";
        out += std::to_string(random() % 1000) + "\n";
    }
    return out;
}

std::string Deflate(const std::string& raw, const DeflateParams& p) {
    z_stream stream{};
    deflateInit2(&stream, p.level, Z_DEFLATED, -p.windowBits, p.memLevel, p.strategy);
    std::string out(deflateBound(&stream, raw.size()), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(raw.data()));
    stream.avail_in = static_cast<uInt>(raw.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

uint32_t Crc(const std::string& s) {
    return static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(s.data()), s.size()));
}

// A stream inside a container; `at` receives where its deflate data starts.
std::string ZlibWrap(const std::string& raw, const std::string& deflated, size_t& at) {
    const unsigned cmf = 0x78, flg = 31 - (cmf * 256) % 31;
    std::string out = "prefix" + std::string{char(cmf), char(flg)};
    at = out.size();
    out += deflated;
    const uint32_t adler =
        static_cast<uint32_t>(adler32(1, reinterpret_cast<const Bytef*>(raw.data()), raw.size()));
    for (int i = 3; i >= 0; --i) out.push_back(static_cast<char>(adler >> (8 * i)));
    return out;
}

std::string GzipWrap(const std::string& raw, const std::string& deflated, size_t& at) {
    std::string out("\x1F\x8B\x08\x08\0\0\0\0\0\x03", 10);
    out += std::string("pack.dat") + '\0';
    at = out.size();
    out += deflated;
    PutLE(out, Crc(raw), 4);
    PutLE(out, raw.size(), 4);
    return out;
}

struct ZipItem {
    std::string name, raw;
    DeflateParams params;
    bool stored = false, descriptor = false;
    uint32_t date = 0x5021;  // time and date
};

// Local headers, data (and descriptors), central directory, end record.
std::string Zip(const std::vector<ZipItem>& items, std::vector<size_t>* starts = nullptr) {
    std::string out, central;
    for (const ZipItem& item : items) {
        const std::string data = item.stored ? item.raw : Deflate(item.raw, item.params);
        const size_t header = out.size();
        auto fields = [&](std::string& to) {
            PutLE(to, 20, 2);
            PutLE(to, item.descriptor ? 8 : 0, 2);
            PutLE(to, item.stored ? 0 : 8, 2);
            PutLE(to, item.date, 4);
            for (uint64_t value :
                 {uint64_t{Crc(item.raw)}, uint64_t{data.size()}, uint64_t{item.raw.size()}})
                PutLE(to, item.descriptor && &to == &out ? 0 : value, 4);
            PutLE(to, item.name.size(), 2);
            PutLE(to, 0, 2);
        };
        PutLE(out, 0x04034B50, 4);
        fields(out);
        out += item.name;
        if (starts) starts->push_back(out.size());
        out += data;
        if (item.descriptor) {
            PutLE(out, 0x08074B50, 4);
            for (uint64_t value :
                 {uint64_t{Crc(item.raw)}, uint64_t{data.size()}, uint64_t{item.raw.size()}})
                PutLE(out, value, 4);
        }
        PutLE(central, 0x02014B50, 4);
        PutLE(central, 20, 2);
        fields(central);
        central += std::string(10, '\0');
        PutLE(central, header, 4);
        central += item.name;
    }
    const size_t at = out.size();
    out += central;
    PutLE(out, 0x06054B50, 4);
    PutLE(out, 0, 4);
    PutLE(out, items.size(), 2);
    PutLE(out, items.size(), 2);
    PutLE(out, central.size(), 4);
    PutLE(out, at, 4);
    PutLE(out, 0, 2);
    return out;
}

TEST(DeflateStreams, FoundInEveryContainerWithParametersThatRebuildThem) {
    const DeflateParams table[] = {{6, 15, 8, Z_DEFAULT_STRATEGY},
                                   {9, 15, 8, Z_DEFAULT_STRATEGY},
                                   {1, 15, 8, Z_DEFAULT_STRATEGY},
                                   {0, 15, 8, Z_DEFAULT_STRATEGY},
                                   {4, 15, 9, Z_DEFAULT_STRATEGY},
                                   {9, 15, 5, Z_DEFAULT_STRATEGY},
                                   {6, 12, 8, Z_DEFAULT_STRATEGY},
                                   {6, 15, 8, Z_FILTERED},
                                   {6, 15, 8, Z_HUFFMAN_ONLY},
                                   {6, 15, 8, Z_RLE},
                                   {6, 15, 8, Z_FIXED}};
    const std::string raw = Records(7, 1200);
    for (const DeflateParams& params : table) {
        const std::string deflated = Deflate(raw, params);
        struct Case {
            const char* name;
            std::string file;
            size_t at = 0;
        };
        std::vector<Case> cases(4);
        cases[0].name = "zlib";
        cases[0].file = ZlibWrap(raw, deflated, cases[0].at);
        cases[1].name = "gzip";
        cases[1].file = GzipWrap(raw, deflated, cases[1].at);
        for (bool descriptor : {false, true}) {
            std::vector<size_t> starts;
            Case& zip = cases[2 + descriptor];
            zip.name = descriptor ? "zip, data descriptor" : "zip";
            zip.file = Zip({{"a.txt", raw, params, false, descriptor}}, &starts);
            zip.at = starts[0];
        }
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + " level " + std::to_string(params.level) +
                         " strategy " + std::to_string(params.strategy));
            std::vector<std::string> contents;
            const std::vector<DeflateStream> found = StreamFinder::Find(c.file, &contents);
            ASSERT_EQ(found.size(), 1u);
            EXPECT_EQ(found[0].offset, c.at);
            EXPECT_EQ(found[0].compressedSize, deflated.size());
            EXPECT_EQ(found[0].rawSize, raw.size());
            EXPECT_EQ(contents[0], raw);
            EXPECT_EQ(Deflate(raw, found[0].params), deflated);
        }
    }
}

// Stored blocks cut where zlib would not cut them, a stream cut short, a zip
// header whose size disagrees, noise: nothing that zlib rebuilds exactly.
TEST(DeflateStreams, WhatZlibCannotRebuildStaysOpaque) {
    const std::string raw = Records(8, 200);
    std::string handMade;
    for (size_t at = 0; at < raw.size(); at += 100) {
        const size_t n = std::min<size_t>(100, raw.size() - at);
        handMade.push_back(at + n == raw.size() ? 1 : 0);
        PutLE(handMade, n, 2);
        PutLE(handMade, n ^ 0xFFFF, 2);
        handMade += raw.substr(at, n);
    }
    size_t at = 0;
    std::string cut = ZlibWrap(raw, Deflate(raw, {}), at);
    cut.resize(cut.size() / 2);
    std::string wrongSize = Zip({{"a.txt", raw, {}}});
    wrongSize[18] ^= 1;
    for (const std::string& file : {ZlibWrap(raw, handMade, at), cut, wrongSize, Noise(9, 100000)})
        EXPECT_TRUE(StreamFinder::Find(file).empty());
}

// A game pack: entries at two levels, some stored, a tenth edited, one
// added, one removed, two swapped.
std::vector<ZipItem> Pack(bool edited) {
    std::vector<ZipItem> items;
    for (uint32_t i = 0; i < 30; ++i) {
        std::string raw = Records(100 + i, 400);
        if (edited && i % 10 == 3) raw.replace(raw.size() / 2, 6, "CHANGE");
        items.push_back({"data/" + std::to_string(i) + ".rec",
                         raw,
                         {i % 2 ? 9 : 6, 15, 8, Z_DEFAULT_STRATEGY},
                         i % 7 == 0,
                         i % 5 == 1});
    }
    if (edited) {
        items.erase(items.begin() + 12);
        std::swap(items[4], items[20]);
        items.push_back({"data/new.rec", Records(999, 300), {}});
    }
    return items;
}

// Whatever the chunks the form arrives in, decoding gives back every byte, and
// encoding gives the bytes the builder's whole-form encoding gave: headers cut
// by a chunk's end, signatures overlapping a header, a header cut by the
// form's end.
TEST(ZipHeaderFields, DecodingGivesBackEveryByteWhateverTheChunks) {
    std::string sprinkled = Noise(4, 20000);
    for (size_t at = 100; at + 40 < sprinkled.size(); at += 997)
        sprinkled.replace(at, 4, at % 3 ? "PK\x01\x02" : at % 2 ? "PK\x03\x04" : "PK\x07\x08");
    const std::string zip = Zip(Pack(true));
    // A central header whose CRC-32 encodes to a local header's signature.
    const std::string values = "\x12\x34\x56\x78" + std::string(8, '\x9A');
    std::string signature = "PK\x03\x04" + std::string(8, '\0');
    for (size_t i = 0; i < 12; ++i) signature[i] ^= values[i];
    const std::string local = "PK\x03\x04" + std::string(10, '\0') + values + std::string(4, '\0');
    const std::string central = "PK\x01\x02" + std::string(12, '\0') + signature;
    const std::string forms[] = {zip, zip + "PK\x03\x04" + std::string(20, '\x11'),
                                 "PKPK\x01\x02" + zip.substr(0, 4000) + "PK\x01\x02", sprinkled,
                                 local + central + std::string(40, '\0')};
    for (const std::string& form : forms) {
        for (uint32_t base : {0u, 0x5021u, 0xDEADBEEFu}) {
            const std::string encoded = ZipHeaderFields::Encode(form, base);
            ASSERT_EQ(encoded.size(), form.size());
            if (base) {
                EXPECT_NE(encoded, form);
            }
            for (size_t chunk : {size_t{1}, size_t{29}, size_t{31}, size_t{70001}}) {
                SCOPED_TRACE("base " + std::to_string(base) + ", chunk " + std::to_string(chunk));
                for (auto [direction, input, expected] :
                     {std::tuple{ZipHeaderFields::Direction::Encode, &form, &encoded},
                      std::tuple{ZipHeaderFields::Direction::Decode, &encoded, &form}}) {
                    std::string out;
                    ZipHeaderFields filter(base, direction, [&out](const void* data, size_t n) {
                        out.append(static_cast<const char*>(data), n);
                    });
                    for (size_t at = 0; at < input->size(); at += chunk)
                        filter.Write(input->data() + at, std::min(chunk, input->size() - at));
                    filter.Finish();
                    EXPECT_EQ(out, *expected);
                }
            }
        }
    }
}

// Two builds of an archive, one a day later, with or without data
// descriptors: their forms encode alike, each with its own most common date.
TEST(ZipHeaderFields, ArchivesDifferingInDatesEncodeAlike) {
    for (bool descriptor : {false, true}) {
        std::vector<ZipItem> items = Pack(false), later = items;
        for (size_t i = 0; i < items.size(); ++i) {
            items[i].descriptor = later[i].descriptor = descriptor;
            later[i].date += 1 << 16;
        }
        later[3].date += 77;  // one entry touched at another time
        const std::string a = Zip(items), b = Zip(later);
        size_t headers = 0;
        const uint32_t baseA = ZipHeaderFields::CommonDate(a, headers);
        EXPECT_EQ(headers, 2 * items.size());
        const uint32_t baseB = ZipHeaderFields::CommonDate(b, headers);
        const std::string encodedA = ZipHeaderFields::Encode(a, baseA);
        std::string encodedB = ZipHeaderFields::Encode(b, baseB);
        // Only the touched entry's two dates differ.
        size_t differing = 0;
        for (size_t i = 0; i < a.size(); ++i) differing += encodedA[i] != encodedB[i];
        EXPECT_EQ(differing, 2u) << descriptor;
        // The central headers' CRC-32 and sizes repeat their entry's: encoded as zeros.
        const size_t central = encodedA.find("PK\x01\x02");
        ASSERT_NE(central, std::string::npos);
        EXPECT_EQ(encodedA.substr(central + 16, 12), std::string(12, '\0'));
    }
}

// A reader takes an entry kind only with the flag that names it, and the zip
// fields flag only with the streams flag: otherwise it would read a section
// in another layout than the one it was written in.
TEST(PatchFlags, EachKindNeedsItsFlag) {
    PatchEntry entry;
    entry.path = "pack.zip";
    entry.sections.resize(kInflatedSections);
    using F = PatchFormat;
    struct Case {
        uint32_t flags;
        EntryKind kind;
        bool accepted;
    };
    for (const Case& c :
         {Case{F::kFlagDeflateStreams, EntryKind::InflatedDeltaFile, true},
          Case{F::kFlagDeflateStreams, EntryKind::InflatedZipDeltaFile, false},
          Case{F::kFlagDeflateStreams | F::kFlagZipFields, EntryKind::InflatedZipDeltaFile, true},
          Case{F::kFlagZipFields, EntryKind::InflatedZipDeltaFile, false},
          Case{F::kFlagDeflateStreams | 4, EntryKind::InflatedDeltaFile, false}}) {
        SCOPED_TRACE(c.flags);
        entry.kind = c.kind;
        PatchHeader header;
        header.version = F::kVersion;
        header.flags = c.flags;
        const std::string encoded = F::EncodeHeader(header);
        bool accepted = true;
        try {
            F::DecodeHeader(reinterpret_cast<const unsigned char*>(encoded.data()));
            F::DecodeDirectory(F::EncodeDirectory({entry}, c.flags, "1.2.13"), F::kVersion,
                               c.flags);
        } catch (const PatchError&) {
            accepted = false;
        }
        EXPECT_EQ(accepted, c.accepted);
    }
}

TEST(InflatedDelta, ZipRoundTripBothWaysByteExact) {
    TempDir dir;
    WriteFile(dir / "old/pack.zip", Zip(Pack(false)));
    WriteFile(dir / "new/pack.zip", Zip(Pack(true)));
    // A zlib stream that moved and changed level and content.
    const std::string blob = Records(3, 500), edited = blob.substr(0, 9000) + "EDIT" + blob;
    size_t at = 0;
    WriteFile(dir / "old/blob.z", ZlibWrap(blob, Deflate(blob, {}), at));
    WriteFile(dir / "new/blob.z", "more" + ZlibWrap(edited, Deflate(edited, {9}), at));
    for (const auto& [from, to] : {std::pair{"old", "new"}, std::pair{"new", "old"}}) {
        SCOPED_TRACE(from);
        const BuildSummary summary = PatchBuilder::Build(dir / from, dir / to, dir / "patch");
        EXPECT_EQ(summary.inflatedDeltas, 2u);
        CopyTree(dir / from, dir / "work");
        ASSERT_EQ(PatchApplier().Apply(dir / "patch", dir / "work"), PatchResult::Ok);
        EXPECT_EQ(TakeSnapshot(dir / "work"), TakeSnapshot(dir / to));
    }
}

// Patches of the pack with the recorded zlib version changed, or one new
// stream's level changed: refused whole, the tree untouched.
TEST(InflatedDelta, AnotherZlibOrAnotherRebuildIsRefused) {
    TempDir dir;
    const std::string oldPack = Zip(Pack(false)), newPack = Zip(Pack(true));
    WriteFile(dir / "tree/pack.zip", oldPack);
    std::vector<std::string> oldContents, newContents;
    const std::vector<DeflateStream> oldStreams = StreamFinder::Find(oldPack, &oldContents);
    std::vector<DeflateStream> newStreams = StreamFinder::Find(newPack, &newContents);
    const DeltaStreams delta =
        DeltaEncoder::Encode(StreamExpander::Expand(oldPack, oldStreams, oldContents),
                             StreamExpander::Expand(newPack, newStreams, newContents));
    PatchEntry entry;
    entry.kind = EntryKind::InflatedDeltaFile;
    entry.path = "pack.zip";
    entry.oldSize = oldPack.size();
    entry.oldHash = Sha256::Of(oldPack.data(), oldPack.size());
    entry.newSize = newPack.size();
    entry.newHash = Sha256::Of(newPack.data(), newPack.size());
    struct Case {
        const char* name;
        std::string zlib;
        int level;
        PatchResult expected;
    };
    const int level = newStreams[1].params.level;
    for (const Case& c :
         {Case{"as built", ZlibWriter::LibraryVersion(), level, PatchResult::Ok},
          Case{"other zlib", "1.2.12", level, PatchResult::CorruptPatch},
          Case{"other level", ZlibWriter::LibraryVersion(), 1, PatchResult::CorruptPatch}}) {
        SCOPED_TRACE(c.name);
        newStreams[1].params.level = c.level;
        const std::string records = StreamRecords::Encode(oldStreams, newStreams);
        std::vector<std::string> sections = {ZlibWriter::Compress(records)};
        std::vector<uint64_t> sizes = {records.size()};
        for (const DeltaSection& section : delta.sections) {
            sections.push_back(section.compressed);
            sizes.push_back(section.rawSize);
        }
        {
            PatchWriter writer(dir / "patch");
            writer.RecordZlibVersion(c.zlib);
            writer.Add(entry, sections, sizes);
            writer.Finish();
        }
        CopyTree(dir / "tree", dir / "work");
        EXPECT_EQ(PatchApplier().Apply(dir / "patch", dir / "work"), c.expected);
        const Snapshot expected = {{"pack.zip", c.expected == PatchResult::Ok ? newPack : oldPack}};
        EXPECT_EQ(TakeSnapshot(dir / "work"), expected);
    }
}

// The fuzzer's seeds in these formats apply to the fuzzer's tree (the
// applier checks each rebuilt file's SHA-256).
TEST(InflatedDelta, FuzzSeedsApply) {
    for (auto [seed, kind] : {std::pair{"/upgrade-streams.mrl", EntryKind::InflatedDeltaFile},
                              std::pair{"/upgrade-zip.mrl", EntryKind::InflatedZipDeltaFile}}) {
        SCOPED_TRACE(seed);
        TempDir dir;
        WriteFuzzTree(dir / "tree");
        const std::string patch = std::string(PATCH_SEEDS) + seed;
        PatchReader reader;
        reader.Open(patch);
        ASSERT_EQ(reader.entries().at(0).kind, kind);
        ASSERT_EQ(PatchApplier().Apply(patch, dir / "tree"), PatchResult::Ok);
        if (kind == EntryKind::InflatedDeltaFile) {
            EXPECT_EQ(ReadFile(dir / "tree/pack.z"), FuzzPack(true));
        } else {
            EXPECT_NE(ReadFile(dir / "tree/shop.zip"), FuzzZip());
        }
    }
}

}  // namespace

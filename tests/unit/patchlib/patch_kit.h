// Trees, files and program images for the patch library's tests and fuzzer.
#pragma once

#include <array>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <zlib.h>

namespace patchtest {

namespace fs = std::filesystem;

struct TempDir {
    fs::path path =
        fs::temp_directory_path() / ("patchlib-" + std::to_string(std::random_device()()));
    TempDir() { fs::create_directories(path); }
    explicit TempDir(fs::path at) : path(std::move(at)) { fs::create_directories(path); }
    ~TempDir() { fs::remove_all(path, ec); }
    std::error_code ec;
    fs::path operator/(const std::string& relative) const { return path / relative; }
};

inline std::string ReadFile(const fs::path& path) {
    std::ostringstream out;
    out << std::ifstream(path, std::ios::binary).rdbuf();
    return out.str();
}

inline void WriteFile(const fs::path& path, const std::string& content) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
}

inline void CopyTree(const fs::path& from, const fs::path& to) {
    fs::remove_all(to);
    fs::copy(from, to, fs::copy_options::recursive);
}

using Snapshot = std::map<std::string, std::string>;
inline Snapshot TakeSnapshot(const fs::path& root) {
    Snapshot snapshot;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        snapshot[entry.path().lexically_relative(root).generic_u8string()] =
            entry.is_directory() ? "<dir>" : ReadFile(entry.path());
    return snapshot;
}

// Bytes of `alphabet` or, one time in four (always without one), any byte.
inline std::string Noise(uint32_t seed, size_t size, const std::string& alphabet = "") {
    std::mt19937 random(seed);
    std::string data(size, '\0');
    for (char& c : data)
        c = static_cast<char>(
            random() % 4 && !alphabet.empty() ? alphabet[random() % alphabet.size()] : random());
    return data;
}

// Dense in call, jump and memory-operand patterns.
inline std::string Code(uint32_t seed, size_t size) {
    return Noise(seed, size, "\xE8\xE9\x0F\x85\x8B\x89\x48\x4C\x05\x15\x25\xFF\x10\x3D\x8D");
}

// Every other word points into the image (loaded at 0x400000).
inline std::string Data(uint32_t seed, size_t size) {
    std::string data = Noise(seed, size);
    for (size_t i = 0; i + 8 <= size; i += 16)
        data.replace(data.begin() + i, data.begin() + i + 8, {64, data[i + 1], 64, 0, 0, 0, 0, 0});
    return data;
}

// An ELF64 or PE32 (x86) program: header, code segment, data segment.
inline std::string Program(bool pe, const std::string& code, const std::string& data) {
    const uint64_t c = code.size(), d = data.size(), at = 0x200 + c;
    using Fields = std::vector<std::array<uint64_t, 3>>;  // offset, value, bytes
    const Fields fields =
        pe ? Fields{{0, 0x5A4D, 2},         {0x3C, 0x40, 4},     {0x40, 0x4550, 4},
                    {0x44, 0x14C, 2},       {0x46, 2, 2},        {0x54, 224, 2},
                    {0x58, 0x10B, 2},       {0x74, 0x400000, 4}, {0x140, c, 4},
                    {0x144, 0x200, 4},      {0x148, c, 4},       {0x14C, 0x200, 4},
                    {0x15C, 0x60000020, 4}, {0x168, d, 4},       {0x16C, at, 4},
                    {0x170, d, 4},          {0x174, at, 4},      {0x184, 0xC0000040, 4}}
           : Fields{{0, 0x464C457F, 4}, {4, 0x0102, 2},    {18, 62, 2},  {32, 64, 8},
                    {54, 56, 2},        {56, 2, 2},        {64, 1, 4},   {68, 5, 4},
                    {72, 0x200, 8},     {80, 0x400200, 8}, {96, c, 8},   {104, c, 8},
                    {120, 1, 4},        {124, 6, 4},       {128, at, 8}, {136, 0x400000 + at, 8},
                    {152, d, 8},        {160, d, 8}};
    std::string file(0x200, '\0');
    for (const auto& [offset, value, bytes] : fields)
        for (uint64_t i = 0; i < bytes; ++i) file[offset + i] = static_cast<char>(value >> (8 * i));
    return file + code + data;
}

// A zlib stream of text records (level 9), as game data holds; `edited`
// changes a few bytes in the middle.
inline std::string FuzzPack(bool edited) {
    std::string text;
    for (int i = 0; i < 400; ++i)
        text +=
            "npc " + std::to_string(i * 7 % 13) + " zone=North hp=" + std::to_string(i % 50) + "\n";
    if (edited) text.replace(text.size() / 2, 5, "EDIT!");
    uLongf size = compressBound(static_cast<uLong>(text.size()));
    std::string out(size, '\0');
    compress2(reinterpret_cast<Bytef*>(out.data()), &size,
              reinterpret_cast<const Bytef*>(text.data()), static_cast<uLong>(text.size()), 9);
    out.resize(size);
    return out;
}

// A zip of three deflated entries (level 6, raw deflate), dated 2026-05-25:
// local headers, data, central directory and end record.
inline std::string FuzzZip() {
    auto le = [](std::string& out, uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>(value >> (8 * i)));
    };
    std::string out, central;
    for (int entry = 0; entry < 3; ++entry) {
        std::string text;
        for (int i = 0; i < 150; ++i)
            text += "item " + std::to_string(i * (entry + 3) % 17) +
                    " price=" + std::to_string(i % 40) + "\n";
        z_stream stream{};
        deflateInit2(&stream, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
        std::string data(deflateBound(&stream, static_cast<uLong>(text.size())), '\0');
        stream.next_in = reinterpret_cast<Bytef*>(text.data());
        stream.avail_in = static_cast<uInt>(text.size());
        stream.next_out = reinterpret_cast<Bytef*>(data.data());
        stream.avail_out = static_cast<uInt>(data.size());
        deflate(&stream, Z_FINISH);
        data.resize(stream.total_out);
        deflateEnd(&stream);
        const std::string name = "shop" + std::to_string(entry) + ".txt";
        const uint32_t crc = static_cast<uint32_t>(
            crc32(0, reinterpret_cast<const Bytef*>(text.data()), static_cast<uInt>(text.size())));
        auto fields = [&](std::string& to) {
            for (uint32_t value : {20u, 0u, 8u}) le(to, value, 2);
            le(to, 0x5CB95A00, 4);
            for (uint32_t value : {crc, uint32_t(data.size()), uint32_t(text.size())})
                le(to, value, 4);
            le(to, static_cast<uint32_t>(name.size()), 2);
            le(to, 0, 2);
        };
        le(central, 0x02014B50, 4);
        le(central, 20, 2);
        fields(central);
        central += std::string(10, '\0');
        le(central, static_cast<uint32_t>(out.size()), 4);
        central += name;
        le(out, 0x04034B50, 4);
        fields(out);
        out += name + data;
    }
    const uint32_t at = static_cast<uint32_t>(out.size());
    out += central;
    le(out, 0x06054B50, 4);
    le(out, 0, 4);
    le(out, 3, 2);
    le(out, 3, 2);
    le(out, static_cast<uint32_t>(central.size()), 4);
    le(out, at, 4);
    le(out, 0, 2);
    return out;
}

// The old tree of the fuzzer (its seeds were made against it).
inline void WriteFuzzTree(const fs::path& root) {
    WriteFile(root / "a.txt", "hello patch\n");
    WriteFile(root / "del.txt", "delete me\n");
    std::string pattern;
    for (int i = 0; i < 2000; ++i) pattern.push_back(static_cast<char>((i * 7) % 251));
    WriteFile(root / "dir/b.bin", pattern);
    WriteFile(root / "prog", Program(false, Code(1, 3000), Data(2, 512)));
    WriteFile(root / "pack.z", FuzzPack(false));
    WriteFile(root / "shop.zip", FuzzZip());
}

}  // namespace patchtest

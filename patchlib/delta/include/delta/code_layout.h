// Where a program file keeps its machine code and how its file positions map
// to the addresses its code and pointers use. mkpatch reads it from the PE or
// ELF header of x86 and x86-64 files; a delta carries it, so applying a patch
// never parses a program header. Anything else has an empty layout and gets
// a plain byte delta.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace patchlib {

struct Segment {
    uint64_t fileOffset = 0, fileSize = 0;  // bytes of the file
    uint64_t address = 0, memorySize = 0;   // where they are loaded (memorySize >= fileSize)
    bool code = false;                      // holds machine code
};

struct ByteRange {
    uint64_t begin = 0, end = 0;
};

class CodeLayout {
public:
    static constexpr size_t kMaxSegments = 96;

    // Empty unless data starts with a well-formed x86 or x86-64 PE or ELF header.
    static CodeLayout Detect(const unsigned char* data, size_t size);
    void Encode(std::string& out) const;
    // Reads what Encode wrote, refusing (PatchError CorruptPatch) anything that
    // is not a valid layout for a file of fileSize bytes.
    static CodeLayout Decode(const unsigned char*& in, const unsigned char* end, uint64_t fileSize);

    bool empty() const { return segments_.empty(); }
    bool is64() const { return is64_; }
    const std::vector<Segment>& segments() const { return segments_; }
    // The code segments' file ranges, sorted and disjoint.
    const std::vector<ByteRange>& code() const { return code_; }
    // Values in this range are taken for pointers into the image: from its
    // lowest code address to the end of its highest segment.
    bool LooksLikePointer(uint64_t value) const {
        return value >= pointerLow_ && value < pointerHigh_;
    }
    // The address a file position is loaded at (first segment holding it).
    // segment: the one to try first (the last one found), updated.
    bool AddressOf(uint64_t position, uint64_t& address, size_t& segment) const {
        auto holds = [position](const Segment& s) {
            return position - s.fileOffset < s.fileSize && position >= s.fileOffset;
        };
        if (!Find(holds, fileAlone_, segment)) return false;
        address = segments_[segment].address + (position - segments_[segment].fileOffset);
        return true;
    }
    // The segment and file-relative position of an address (first segment
    // whose memory holds it; past its file bytes for zero-filled memory).
    bool PositionOf(uint64_t address, size_t& segment, uint64_t& position) const {
        auto holds = [address](const Segment& s) {
            return address - s.address < s.memorySize && address >= s.address;
        };
        if (!Find(holds, memoryAlone_, segment)) return false;
        position = segments_[segment].fileOffset + (address - segments_[segment].address);
        return true;
    }

private:
    bool is64_ = false;
    std::vector<Segment> segments_;
    std::vector<ByteRange> code_;
    // Per segment: no earlier one overlaps it in the file or in memory, so a
    // hint that holds the value is the first segment that does.
    std::vector<unsigned char> fileAlone_, memoryAlone_;
    template <typename Holds>
    bool Find(const Holds& holds, const std::vector<unsigned char>& alone, size_t& segment) const {
        if (segment < segments_.size() && alone[segment] && holds(segments_[segment])) return true;
        for (segment = 0; segment < segments_.size(); ++segment)
            if (holds(segments_[segment])) return true;
        return false;
    }
    uint64_t pointerLow_ = 0, pointerHigh_ = 0;
    bool Finish(uint64_t fileSize);
};

}  // namespace patchlib

#include "deflate/stream_records.h"

#include "common/byte_order.h"
#include "common/patch_error.h"

namespace patchlib {

namespace {

void EncodeSide(std::string& out, const std::vector<DeflateStream>& streams, bool withParams) {
    PutVarint(out, streams.size());
    uint64_t end = 0;
    for (const DeflateStream& stream : streams) {
        PutVarint(out, stream.offset - end);
        PutVarint(out, stream.compressedSize);
        PutVarint(out, stream.rawSize);
        if (withParams)
            for (int value : {stream.params.level, stream.params.windowBits, stream.params.memLevel,
                              stream.params.strategy})
                out.push_back(static_cast<char>(value));
        end = stream.offset + stream.compressedSize;
    }
}

}  // namespace

std::string StreamRecords::Encode(const std::vector<DeflateStream>& oldStreams,
                                  const std::vector<DeflateStream>& newStreams,
                                  const DateBases* bases) {
    std::string out;
    if (bases) {
        PutLE(out, bases->oldBase, 4);
        PutLE(out, bases->newBase, 4);
    }
    EncodeSide(out, oldStreams, false);
    EncodeSide(out, newStreams, true);
    return out;
}

uint64_t StreamRecords::ExpandedSize(uint64_t size, const std::vector<DeflateStream>& streams) {
    for (const DeflateStream& stream : streams)
        size = size - stream.compressedSize + stream.rawSize;
    return size;
}

std::vector<StreamRecord> StreamRecords::ToRecords(const std::vector<DeflateStream>& streams) {
    std::vector<StreamRecord> records;
    uint64_t end = 0;
    for (const DeflateStream& stream : streams) {
        records.push_back(
            {stream.offset - end, stream.compressedSize, stream.rawSize, stream.params});
        end = stream.offset + stream.compressedSize;
    }
    return records;
}

StreamRecordReader::StreamRecordReader(ZlibReader& reader, Side side, bool withBases)
    : reader_(reader), side_(side) {
    if (withBases) {
        unsigned char raw[8];
        reader_.ReadExact(raw, sizeof(raw));
        bases_.oldBase = static_cast<uint32_t>(GetLE(raw, 4));
        bases_.newBase = static_cast<uint32_t>(GetLE(raw + 4, 4));
    }
    left_ = reader_.ReadVarint();
    if (side == Side::New) {
        StreamRecord skipped;
        for (; left_ > 0; --left_) Read(skipped, false);
        left_ = reader_.ReadVarint();
    }
}

void StreamRecordReader::Read(StreamRecord& record, bool withParams) {
    record.gap = reader_.ReadVarint();
    record.compressedSize = reader_.ReadVarint();
    record.rawSize = reader_.ReadVarint();
    if (withParams) {
        record.params.level = reader_.ReadByte();
        record.params.windowBits = reader_.ReadByte();
        record.params.memLevel = reader_.ReadByte();
        record.params.strategy = reader_.ReadByte();
    }
    if (record.compressedSize == 0 || record.compressedSize > UINT64_MAX / kMaxDeflateRatio ||
        record.rawSize > kMaxDeflateRatio * record.compressedSize ||
        (withParams && !record.params.IsValid()))
        throw PatchError(PatchResult::CorruptPatch, "a deflate stream record is malformed");
}

bool StreamRecordReader::Next(StreamRecord& record) {
    if (left_ == 0) {
        if (side_ == Side::New) reader_.ExpectEnd();
        return false;
    }
    --left_;
    Read(record, side_ == Side::New);
    return true;
}

}  // namespace patchlib

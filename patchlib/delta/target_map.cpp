#include "target_map.h"

#include <algorithm>
#include <queue>

namespace patchlib {

void TargetMap::AddCopy(uint64_t oldPosition, uint64_t newPosition, uint64_t length) {
    if (length < kMinCopy || moves_.size() >= kMaxCopies) return;
    moves_.push_back({oldPosition, oldPosition + length, newPosition - oldPosition});
}

void TargetMap::Seal() {
    // A total order (begin, longest first, shift), so that nothing depends on
    // the sort's choices.
    auto before = [](const Move& a, const Move& b) {
        if (a.begin != b.begin) return a.begin < b.begin;
        if (a.end != b.end) return a.end > b.end;
        return a.shift < b.shift;
    };
    std::sort(moves_.begin(), moves_.end(), before);
    std::vector<uint64_t> points;
    for (const Move& move : moves_) {
        points.push_back(move.begin);
        points.push_back(move.end);
    }
    std::sort(points.begin(), points.end());
    points.erase(std::unique(points.begin(), points.end()), points.end());

    auto emit = [this](uint64_t begin, uint64_t shift) {
        if (spans_.empty() || spans_.back().shift != shift) spans_.push_back({begin, shift});
    };
    // Sweep over the old file with the copies that hold the current point,
    // longest on top (the earlier one of two as long).
    auto shorter = [this](size_t a, size_t b) {
        uint64_t lengthA = moves_[a].end - moves_[a].begin,
                 lengthB = moves_[b].end - moves_[b].begin;
        return lengthA != lengthB ? lengthA < lengthB : a > b;
    };
    std::priority_queue<size_t, std::vector<size_t>, decltype(shorter)> holding(shorter);
    size_t next = 0;
    uint64_t shift = moves_.empty() ? 0 : moves_[0].shift;
    emit(0, shift);
    for (uint64_t point : points) {
        while (next < moves_.size() && moves_[next].begin <= point) holding.push(next++);
        while (!holding.empty() && moves_[holding.top()].end <= point) holding.pop();
        if (!holding.empty()) {
            shift = moves_[holding.top()].shift;
            emit(point, shift);
        } else if (next < moves_.size()) {
            // A gap: its first half moves with the copy before it, the rest
            // with the one after.
            emit(point, shift);
            emit(point + (moves_[next].begin - point) / 2, moves_[next].shift);
        }
    }
    moves_.clear();
    moves_.shrink_to_fit();
    while ((spans_.back().begin >> bucketShift_) >= kMaxBuckets) ++bucketShift_;
    buckets_.resize(static_cast<size_t>(spans_.back().begin >> bucketShift_) + 1);
    uint32_t span = 0;
    for (size_t b = 0; b < buckets_.size(); ++b) {
        while (span + 1 < spans_.size() && spans_[span + 1].begin <= (uint64_t{b} << bucketShift_))
            ++span;
        buckets_[b] = span;
    }
}

bool TargetMap::MapAddress(uint64_t address, uint64_t& mapped) {
    uint64_t position = 0;
    if (!old_.PositionOf(address, targetSegment_, position) ||
        targetSegment_ >= new_.segments().size())
        return false;
    const uint64_t bucket = position >> bucketShift_;
    size_t span = bucket < buckets_.size() ? buckets_[bucket] : spans_.size() - 1;
    while (span + 1 < spans_.size() && spans_[span + 1].begin <= position) ++span;
    const Segment& target = new_.segments()[targetSegment_];
    mapped = target.address + (position + spans_[span].shift - target.fileOffset);
    return true;
}

uint64_t TargetMap::Predict(const FoundField& field, uint64_t oldValue) {
    const uint64_t mask = field.kind == FieldKind::Abs64 ? UINT64_MAX : 0xFFFFFFFFull;
    uint64_t mapped = 0;
    if (field.kind != FieldKind::Rel32)
        return MapAddress(oldValue, mapped) ? mapped & mask : oldValue;
    // Relative to the end of the field: the operand's instruction ends there
    // for branches and most memory operands.
    const auto distance =
        static_cast<uint64_t>(static_cast<int64_t>(static_cast<int32_t>(oldValue)));
    const uint64_t local = field.position + 4 + distance;
    if (local >= field.runBegin && local < field.runEnd) return oldValue;
    uint64_t from = 0, to = 0;
    if (!old_.AddressOf(field.oldPosition, from, fieldSegment_) ||
        !new_.AddressOf(field.position, to, newFieldSegment_))
        return oldValue;
    uint64_t target = from + 4 + distance;
    if (!old_.is64()) target &= 0xFFFFFFFFull;
    if (!MapAddress(target, mapped)) return oldValue;
    return (mapped - (to + 4)) & mask;
}

}  // namespace patchlib

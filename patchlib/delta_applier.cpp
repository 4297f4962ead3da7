#include "delta_applier.h"

#include <algorithm>
#include <vector>

#include "byte_order.h"
#include "patch_error.h"

namespace patchlib {

namespace {

constexpr size_t kChunk = 64 * 1024;
constexpr size_t kCache = 1024 * 1024;

// Random-access reads of the old file through one cached block, since most
// copies continue where the previous one ended.
class OldFileCache {
 public:
  OldFileCache(BinaryFile& file, uint64_t size) : file_(file), size_(size), block_(kCache) {}

  void Read(uint64_t pos, unsigned char* out, size_t size) {
    while (size > 0) {
      if (pos < start_ || pos >= start_ + filled_) Load(pos);
      size_t offset = static_cast<size_t>(pos - start_);
      size_t take = std::min(size, filled_ - offset);
      std::copy(block_.data() + offset, block_.data() + offset + take, out);
      pos += take;
      out += take;
      size -= take;
    }
  }

 private:
  void Load(uint64_t pos) {
    size_t want = static_cast<size_t>(std::min<uint64_t>(kCache, size_ - pos));
    if (!file_.Seek(pos) || !file_.ReadExact(block_.data(), want))
      throw PatchError(PatchResult::TreeMismatch, "cannot read an old file");
    start_ = pos;
    filled_ = want;
  }

  BinaryFile& file_;
  uint64_t size_;
  std::vector<unsigned char> block_;
  uint64_t start_ = 0;
  size_t filled_ = 0;
};

[[noreturn]] void Corrupt(const char* what) { throw PatchError(PatchResult::CorruptPatch, what); }

}  // namespace

void DeltaApplier::Apply(BinaryFile& oldFile, uint64_t oldSize, ZlibReader& control,
                         ZlibReader& diff, ZlibReader& extra, uint64_t newSize, const Sink& out) {
  OldFileCache old(oldFile, oldSize);
  std::vector<unsigned char> bufferOld(kChunk), bufferDiff(kChunk);
  uint64_t oldPos = 0, produced = 0;

  while (control.remaining() > 0) {
    int64_t seek = ZigZagDecode(control.ReadVarint());
    uint64_t copyLen = control.ReadVarint();
    uint64_t extraLen = control.ReadVarint();
    if (copyLen > newSize - produced || extraLen > newSize - produced - copyLen)
      Corrupt("a delta produces more than the new file's size");
    if (copyLen > 0) {
      if ((seek < 0 && static_cast<uint64_t>(-(seek + 1)) >= oldPos) ||
          (seek > 0 && static_cast<uint64_t>(seek) > oldSize - oldPos))
        Corrupt("a delta seeks outside the old file");
      oldPos += static_cast<uint64_t>(seek);
      if (copyLen > oldSize - oldPos) Corrupt("a delta copies past the end of the old file");
    }
    for (uint64_t done = 0; done < copyLen;) {
      size_t n = static_cast<size_t>(std::min<uint64_t>(kChunk, copyLen - done));
      old.Read(oldPos + done, bufferOld.data(), n);
      diff.ReadExact(bufferDiff.data(), n);
      for (size_t i = 0; i < n; ++i) bufferOld[i] = static_cast<unsigned char>(bufferOld[i] + bufferDiff[i]);
      out(bufferOld.data(), n);
      done += n;
    }
    oldPos += copyLen;
    for (uint64_t done = 0; done < extraLen;) {
      size_t n = static_cast<size_t>(std::min<uint64_t>(kChunk, extraLen - done));
      extra.ReadExact(bufferOld.data(), n);
      out(bufferOld.data(), n);
      done += n;
    }
    produced += copyLen + extraLen;
  }
  if (produced != newSize) Corrupt("a delta produces less than the new file's size");
  control.ExpectEnd();
  diff.ExpectEnd();
  extra.ExpectEnd();
}

}  // namespace patchlib

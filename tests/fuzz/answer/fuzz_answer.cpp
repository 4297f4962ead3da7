// Feeds arbitrary bytes through the download receiver's core the way its
// thread does, in reads whose sizes the input chooses: greeting, answer, file
// data. Checks what the thread relies on: nothing read past a read, a safe
// Windows name for any file, writes in order and never past the announced
// size, a complete file only at its size, a dropped file (signed-only
// installs) started at 0 and not deleted, and nothing once the download
// stopped.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "patchlink/receiver_core.h"
#include "names/windows_names.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

struct Facts : ReceiverFacts {
    uint64_t freeBytes = 0;
    uint64_t localSize = 0;
    bool FreeBytes(uint64_t* bytes) override {
        *bytes = freeBytes;
        return true;
    }
    uint64_t LocalFileSize(const std::string&) override { return localSize; }
    bool SignedOnly() override { return signedOnly; }
    bool signedOnly = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    Facts facts;
    facts.freeBytes = uint64_t(data[0]) << (data[1] % 40);
    facts.localSize = uint64_t(data[2]) << (data[1] % 24);
    facts.signedOnly = data[1] & 0x80;
    ReceiverCore core(facts, 0);
    uint32_t fileSize = 0, onDisk = 0, now = 0;
    bool started = false, stopped = false;
    for (size_t at = 3; at < size;) {
        // One byte chooses the read's size (1 to 240, or steps of 256 up to
        // 4096); an exact-size copy lets ASan see any read past it.
        size_t want = data[at] < 0xF0 ? 1u + data[at] : (data[at] - 0xEFu) * 256u;
        size_t n = std::min(size - at - 1, want);
        std::vector<uint8_t> read(data + at + 1, data + at + 1 + n);
        at += 1 + n;
        if (n == 0) break;
        const auto& actions = core.Feed(read.data(), read.size(), now += 97);
        Check(!stopped || actions.empty());
        for (const ReceiverAction& a : actions) {
            if (a.kind == ReceiverAction::kHeader) fileSize = a.size;
            if (a.kind == ReceiverAction::kStartFile) {
                Check(!started && IsSafeWindowsName(a.text) && a.value <= fileSize);
                // A dropped file touches nothing local: no resume, no deletion.
                Check(!a.drop || (facts.signedOnly && a.value == 0 && !a.whole));
                started = true;
                onDisk = a.value;
            }
            if (a.kind == ReceiverAction::kWrite) {
                Check(started && a.data >= read.data() && a.length >= 1 &&
                      a.data + a.length <= read.data() + read.size());
                onDisk += uint32_t(a.length);
                Check(a.value == onDisk && onDisk <= fileSize);
            }
            if (a.kind == ReceiverAction::kComplete) Check(started && onDisk == fileSize);
            if (a.kind == ReceiverAction::kDone) stopped = true;
        }
        Check(core.Done() == stopped);
    }
    return 0;
}

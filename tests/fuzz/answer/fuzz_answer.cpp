// Feeds arbitrary bytes to the patch-server answer decoder, the way the
// receiver does: whole and split at every point. Checks what the receiver
// relies on: nothing read past the data, a complete answer fits the buffer,
// and gathering in two parts gives the same answer as one read.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "patchlink/patch_answer.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

bool Same(const PatchAnswer& a, const PatchAnswer& b) {
    if (a.kind != b.kind || a.length != b.length || a.version != b.version ||
        a.fileSize != b.fileSize || a.fileName != b.fileName || a.reason != b.reason ||
        a.alternatives.size() != b.alternatives.size())
        return false;
    for (size_t i = 0; i < a.alternatives.size(); ++i)
        if (a.alternatives[i].port != b.alternatives[i].port ||
            a.alternatives[i].host != b.alternatives[i].host)
            return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An exact-size copy, so that ASan sees any read past the data.
    std::vector<uint8_t> bytes(data, data + size);
    PatchAnswer whole = PatchAnswer::Parse(bytes.data(), bytes.size());
    bool complete =
        whole.kind == PatchAnswer::Kind::kHeader || whole.kind == PatchAnswer::Kind::kRefusal;
    if (complete) {
        Check(whole.length <= size && whole.length <= PatchAnswer::kAnswerLimit);
        // The answer alone decodes the same; any shorter prefix is incomplete.
        std::vector<uint8_t> exact(bytes.begin(), bytes.begin() + long(whole.length));
        Check(Same(PatchAnswer::Parse(exact.data(), exact.size()), whole));
        if (whole.length > 0) {
            std::vector<uint8_t> shorter(exact.begin(), exact.end() - 1);
            Check(PatchAnswer::Parse(shorter.data(), shorter.size()).kind ==
                  PatchAnswer::Kind::kIncomplete);
        }
        if (whole.kind == PatchAnswer::Kind::kHeader) {
            Check(whole.version != 0);
            bool plain = IsPlainFileName(whole.fileName);
            if (plain) {
                for (char c : whole.fileName) Check(c != '/' && c != '\\' && c != ':' && c != '\0');
            }
        }
    }
    if (whole.kind == PatchAnswer::Kind::kIncomplete) Check(size < PatchAnswer::kAnswerLimit);
    return 0;
}

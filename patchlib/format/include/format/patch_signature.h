// The signature block of a patch file: ECDSA P-256 over the SHA-256 of the
// header's 56 bytes (magic, version, flags, body end and the body's hash, so
// every byte of the body is covered), with the id of the key that made it.
// Block content: 32 key id (SHA-256 of the public point X||Y), 32 r, 32 s.
#pragma once

#include <string>
#include <vector>

#include "crypto/ecdsa_p256.h"

namespace patchlib {

class PatchSignature {
public:
    static constexpr uint32_t kBlockType = 1;
    static constexpr size_t kContentSize = 96;

    static Digest KeyId(const PublicKey& key);
    // The first bytes of the key id in hex: how a key is named to people.
    static std::string ShortId(const PublicKey& key);

    // The whole block (block header included) that signs `header` with `key`.
    // Throws std::runtime_error when the signature would not verify (a key
    // file whose public point is not its secret's).
    static std::string MakeBlock(const unsigned char* header, const KeyPair& key);

    // Passes when one of the signature blocks' contents names one of the
    // `trusted` keys and its signature of `header` verifies; otherwise throws
    // PatchError(Untrusted) saying whether the patch is unsigned, signed by
    // another key or signed wrongly.
    static void Check(const unsigned char* header, const std::vector<std::string>& contents,
                      const std::vector<PublicKey>& trusted);
};

}  // namespace patchlib

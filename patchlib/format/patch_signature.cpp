#include "format/patch_signature.h"

#include <cstring>

#include "common/byte_order.h"
#include "common/patch_error.h"
#include "format/patch_format.h"

namespace patchlib {

namespace {

Digest HeaderDigest(const unsigned char* header) {
    return Sha256::Of(header, PatchFormat::kHeaderSize);
}

[[noreturn]] void Refuse(const std::string& why) { throw PatchError(PatchResult::Untrusted, why); }

}  // namespace

Digest PatchSignature::KeyId(const PublicKey& key) { return Sha256::Of(key.data(), key.size()); }

std::string PatchSignature::ShortId(const PublicKey& key) {
    return Sha256::ToHex(KeyId(key)).substr(0, 16);
}

std::string PatchSignature::MakeBlock(const unsigned char* header, const KeyPair& key) {
    const Digest digest = HeaderDigest(header);
    const RawSignature signature = EcdsaP256::Sign(key, digest);
    if (!EcdsaP256::Verify(key.publicKey, digest, signature))
        throw std::runtime_error("the signing key's public point does not belong to its secret");
    std::string block;
    PutLE(block, kBlockType, 4);
    PutLE(block, 0, 4);  // not "needed": a reader without keys applies the patch as it is
    PutLE(block, kContentSize, 8);
    const Digest id = KeyId(key.publicKey);
    block.append(reinterpret_cast<const char*>(id.data()), id.size());
    block.append(reinterpret_cast<const char*>(signature.data()), signature.size());
    return block;
}

void PatchSignature::Check(const unsigned char* header, const std::vector<std::string>& contents,
                           const std::vector<PublicKey>& trusted) {
    if (contents.empty()) Refuse("the patch is not signed");
    const Digest digest = HeaderDigest(header);
    bool named = false;
    for (const std::string& content : contents) {
        for (const PublicKey& key : trusted) {
            const Digest id = KeyId(key);
            if (content.size() != kContentSize || std::memcmp(content.data(), id.data(), 32) != 0)
                continue;
            named = true;
            RawSignature signature;
            std::memcpy(signature.data(), content.data() + 32, signature.size());
            if (EcdsaP256::Verify(key, digest, signature)) return;
        }
    }
    Refuse(named ? "the patch's signature does not match its content"
                 : "the patch is signed by a key that is not trusted");
}

}  // namespace patchlib

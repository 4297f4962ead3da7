#include <windows.h>
#include <bcrypt.h>

#include "common/patch_error.h"
#include "crypto/sha256.h"

namespace patchlib {

struct Sha256::State {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
};

Sha256::Sha256() : state_(new State) {
    if (BCryptOpenAlgorithmProvider(&state_->algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0)
        throw PatchError(PatchResult::Internal, "cannot open the SHA-256 provider");
    Reset();
}

Sha256::~Sha256() {
    if (state_->hash) BCryptDestroyHash(state_->hash);
    if (state_->algorithm) BCryptCloseAlgorithmProvider(state_->algorithm, 0);
}

void Sha256::Reset() {
    if (state_->hash) BCryptDestroyHash(state_->hash);
    state_->hash = nullptr;
    // With no object buffer CNG allocates the hash object itself (Windows 7 and later).
    if (BCryptCreateHash(state_->algorithm, &state_->hash, nullptr, 0, nullptr, 0, 0) != 0)
        throw PatchError(PatchResult::Internal, "cannot create a SHA-256 hash");
}

void Sha256::Update(const void* data, size_t size) {
    auto bytes = static_cast<const unsigned char*>(data);
    while (size > 0) {
        ULONG chunk = size > 0x40000000u ? 0x40000000u : static_cast<ULONG>(size);
        if (BCryptHashData(state_->hash, const_cast<PUCHAR>(bytes), chunk, 0) != 0)
            throw PatchError(PatchResult::Internal, "SHA-256 update failed");
        bytes += chunk;
        size -= chunk;
    }
}

Digest Sha256::Final() {
    Digest digest{};
    if (BCryptFinishHash(state_->hash, digest.data(), static_cast<ULONG>(digest.size()), 0) != 0)
        throw PatchError(PatchResult::Internal, "SHA-256 final failed");
    Reset();
    return digest;
}

}  // namespace patchlib

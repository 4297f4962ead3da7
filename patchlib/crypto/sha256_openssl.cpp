// The low-level digest rather than EVP: EVP's first use initialises the
// provider tables, which costs a patch run more than hashing a megabyte, for
// the same SHA-256 code underneath.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/sha.h>

#include "common/patch_error.h"
#include "crypto/sha256.h"

namespace patchlib {

struct Sha256::State {
    SHA256_CTX context;
};

Sha256::Sha256() : state_(new State) { Reset(); }

Sha256::~Sha256() = default;

void Sha256::Reset() {
    if (SHA256_Init(&state_->context) != 1)
        throw PatchError(PatchResult::Internal, "cannot start SHA-256");
}

void Sha256::Update(const void* data, size_t size) {
    if (size && SHA256_Update(&state_->context, data, size) != 1)
        throw PatchError(PatchResult::Internal, "SHA-256 update failed");
}

Digest Sha256::Final() {
    Digest digest{};
    if (SHA256_Final(digest.data(), &state_->context) != 1)
        throw PatchError(PatchResult::Internal, "SHA-256 final failed");
    Reset();
    return digest;
}

}  // namespace patchlib

#include <openssl/evp.h>

#include "patch_error.h"
#include "sha256.h"

namespace patchlib {

struct Sha256::State {
  EVP_MD_CTX* context = nullptr;
};

Sha256::Sha256() : state_(new State) {
  state_->context = EVP_MD_CTX_new();
  if (!state_->context) throw PatchError(PatchResult::Internal, "cannot create a SHA-256 context");
  Reset();
}

Sha256::~Sha256() { EVP_MD_CTX_free(state_->context); }

void Sha256::Reset() {
  if (EVP_DigestInit_ex(state_->context, EVP_sha256(), nullptr) != 1)
    throw PatchError(PatchResult::Internal, "cannot start SHA-256");
}

void Sha256::Update(const void* data, size_t size) {
  if (size && EVP_DigestUpdate(state_->context, data, size) != 1)
    throw PatchError(PatchResult::Internal, "SHA-256 update failed");
}

Digest Sha256::Final() {
  Digest digest{};
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(state_->context, digest.data(), &length) != 1 || length != digest.size())
    throw PatchError(PatchResult::Internal, "SHA-256 final failed");
  Reset();
  return digest;
}

}  // namespace patchlib

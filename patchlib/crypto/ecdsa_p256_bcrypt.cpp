// CNG takes the raw forms directly: a key blob is its header, X, Y (and d
// for a private key); a signature is r then s.
#include <windows.h>
#include <bcrypt.h>

#include <cstring>
#include <stdexcept>
#include <vector>

#include "crypto/ecdsa_p256.h"

namespace patchlib {

namespace {

class Algorithm {
public:
    Algorithm() {
        if (BCryptOpenAlgorithmProvider(&handle_, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0) != 0)
            handle_ = nullptr;
    }
    ~Algorithm() {
        if (handle_) BCryptCloseAlgorithmProvider(handle_, 0);
    }
    Algorithm(const Algorithm&) = delete;
    Algorithm& operator=(const Algorithm&) = delete;
    BCRYPT_ALG_HANDLE get() const { return handle_; }

private:
    BCRYPT_ALG_HANDLE handle_ = nullptr;
};

class Key {
public:
    Key() = default;
    ~Key() {
        if (handle_) BCryptDestroyKey(handle_);
    }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    BCRYPT_KEY_HANDLE get() const { return handle_; }
    BCRYPT_KEY_HANDLE* out() { return &handle_; }

private:
    BCRYPT_KEY_HANDLE handle_ = nullptr;
};

// Imports X, Y and, for a private key, d behind the blob header.
bool Import(const Algorithm& algorithm, const KeyPair* pair, const PublicKey& point, Key& key) {
    std::vector<unsigned char> blob(sizeof(BCRYPT_ECCKEY_BLOB) + 64 + (pair ? 32 : 0));
    BCRYPT_ECCKEY_BLOB header{};
    header.dwMagic = pair ? BCRYPT_ECDSA_PRIVATE_P256_MAGIC : BCRYPT_ECDSA_PUBLIC_P256_MAGIC;
    header.cbKey = 32;
    std::memcpy(blob.data(), &header, sizeof(header));
    std::memcpy(blob.data() + sizeof(header), point.data(), 64);
    if (pair) std::memcpy(blob.data() + sizeof(header) + 64, pair->secret.data(), 32);
    bool imported =
        algorithm.get() &&
        BCryptImportKeyPair(algorithm.get(), nullptr,
                            pair ? BCRYPT_ECCPRIVATE_BLOB : BCRYPT_ECCPUBLIC_BLOB, key.out(),
                            blob.data(), static_cast<ULONG>(blob.size()), 0) == 0;
    SecureZeroMemory(blob.data(), blob.size());
    return imported;
}

}  // namespace

KeyPair EcdsaP256::Generate() {
    Algorithm algorithm;
    Key key;
    unsigned char blob[sizeof(BCRYPT_ECCKEY_BLOB) + 96];
    ULONG size = 0;
    if (!algorithm.get() || BCryptGenerateKeyPair(algorithm.get(), key.out(), 256, 0) != 0 ||
        BCryptFinalizeKeyPair(key.get(), 0) != 0 ||
        BCryptExportKey(key.get(), nullptr, BCRYPT_ECCPRIVATE_BLOB, blob, sizeof(blob), &size, 0) !=
            0 ||
        size != sizeof(blob))
        throw std::runtime_error("cannot generate a P-256 key");
    KeyPair pair;
    std::memcpy(pair.publicKey.data(), blob + sizeof(BCRYPT_ECCKEY_BLOB), 64);
    std::memcpy(pair.secret.data(), blob + sizeof(BCRYPT_ECCKEY_BLOB) + 64, 32);
    SecureZeroMemory(blob, sizeof(blob));
    return pair;
}

RawSignature EcdsaP256::Sign(const KeyPair& pair, const Digest& digest) {
    Algorithm algorithm;
    Key key;
    RawSignature signature{};
    ULONG size = 0;
    if (!Import(algorithm, &pair, pair.publicKey, key) ||
        BCryptSignHash(key.get(), nullptr, const_cast<PUCHAR>(digest.data()),
                       static_cast<ULONG>(digest.size()), signature.data(),
                       static_cast<ULONG>(signature.size()), &size, 0) != 0 ||
        size != signature.size())
        throw std::runtime_error("CNG refuses the signing key");
    return signature;
}

bool EcdsaP256::Verify(const PublicKey& point, const Digest& digest,
                       const RawSignature& signature) {
    Algorithm algorithm;
    Key key;
    return Import(algorithm, nullptr, point, key) &&
           BCryptVerifySignature(key.get(), nullptr, const_cast<PUCHAR>(digest.data()),
                                 static_cast<ULONG>(digest.size()),
                                 const_cast<PUCHAR>(signature.data()),
                                 static_cast<ULONG>(signature.size()), 0) == 0;
}

}  // namespace patchlib

// libcrypto takes keys in DER and signatures as DER sequences: the raw forms
// are converted at this edge (keys through the fixed encodings of KeyFile).
#include <openssl/ecdsa.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <memory>
#include <stdexcept>

#include "crypto/ecdsa_p256.h"
#include "crypto/key_file.h"

namespace patchlib {

namespace {

template <typename T, void (*Free)(T*)>
struct Deleter {
    void operator()(T* p) const { Free(p); }
};
using Key = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using Context = std::unique_ptr<EVP_PKEY_CTX, Deleter<EVP_PKEY_CTX, EVP_PKEY_CTX_free>>;
using Signature = std::unique_ptr<ECDSA_SIG, Deleter<ECDSA_SIG, ECDSA_SIG_free>>;
using Pkcs8 =
    std::unique_ptr<PKCS8_PRIV_KEY_INFO, Deleter<PKCS8_PRIV_KEY_INFO, PKCS8_PRIV_KEY_INFO_free>>;

void OpenSslFree(unsigned char* p) { OPENSSL_free(p); }
using Bytes = std::unique_ptr<unsigned char, Deleter<unsigned char, OpenSslFree>>;

[[noreturn]] void Fail(const char* what) { throw std::runtime_error(what); }

const unsigned char* Data(const std::string& der) {
    return reinterpret_cast<const unsigned char*>(der.data());
}

// A signing or verifying context for SHA-256 digests.
Context ContextFor(EVP_PKEY* key, int (*init)(EVP_PKEY_CTX*)) {
    Context context(EVP_PKEY_CTX_new(key, nullptr));
    if (!context || init(context.get()) != 1 ||
        EVP_PKEY_CTX_set_signature_md(context.get(), EVP_sha256()) != 1)
        return nullptr;
    return context;
}

}  // namespace

KeyPair EcdsaP256::Generate() {
    Key key(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"));
    Pkcs8 info(key ? EVP_PKEY2PKCS8(key.get()) : nullptr);
    unsigned char* der = nullptr;
    int size = info ? i2d_PKCS8_PRIV_KEY_INFO(info.get(), &der) : -1;
    Bytes owned(der);
    if (size <= 0) Fail("cannot generate a P-256 key");
    return KeyFile::FromPrivateDer(std::string(reinterpret_cast<char*>(der), size));
}

RawSignature EcdsaP256::Sign(const KeyPair& pair, const Digest& digest) {
    const std::string der = KeyFile::PrivateDer(pair);
    const unsigned char* in = Data(der);
    Key key(d2i_AutoPrivateKey(nullptr, &in, static_cast<long>(der.size())));
    Context context = key ? ContextFor(key.get(), EVP_PKEY_sign_init) : nullptr;
    unsigned char encoded[80];
    size_t size = sizeof(encoded);
    if (!context || EVP_PKEY_sign(context.get(), encoded, &size, digest.data(), digest.size()) != 1)
        Fail("libcrypto refuses the signing key");
    const unsigned char* read = encoded;
    Signature signature(d2i_ECDSA_SIG(nullptr, &read, static_cast<long>(size)));
    RawSignature raw{};
    if (!signature || BN_bn2binpad(ECDSA_SIG_get0_r(signature.get()), raw.data(), 32) != 32 ||
        BN_bn2binpad(ECDSA_SIG_get0_s(signature.get()), raw.data() + 32, 32) != 32)
        Fail("libcrypto made a signature out of range");
    return raw;
}

bool EcdsaP256::Verify(const PublicKey& publicKey, const Digest& digest, const RawSignature& raw) {
    const std::string der = KeyFile::PublicDer(publicKey);
    const unsigned char* in = Data(der);
    Key key(d2i_PUBKEY(nullptr, &in, static_cast<long>(der.size())));  // refuses off-curve points
    Signature signature(ECDSA_SIG_new());
    BIGNUM* r = BN_bin2bn(raw.data(), 32, nullptr);
    BIGNUM* s = BN_bin2bn(raw.data() + 32, 32, nullptr);
    if (!key || !signature || !r || !s || ECDSA_SIG_set0(signature.get(), r, s) != 1) {
        BN_free(r);
        BN_free(s);
        return false;
    }
    unsigned char* encoded = nullptr;
    int size = i2d_ECDSA_SIG(signature.get(), &encoded);
    Bytes owned(encoded);
    Context context = ContextFor(key.get(), EVP_PKEY_verify_init);
    return size > 0 && context &&
           EVP_PKEY_verify(context.get(), encoded, static_cast<size_t>(size), digest.data(),
                           digest.size()) == 1;
}

}  // namespace patchlib

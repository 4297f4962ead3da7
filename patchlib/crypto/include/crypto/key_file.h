// Key files: a P-256 private key as unencrypted PKCS#8 ("PRIVATE KEY",
// holding the public point too) and a public key as SubjectPublicKeyInfo
// ("PUBLIC KEY"), both PEM, as libcrypto writes them. Reading is strict: the
// only DER accepted is the one fixed encoding of a P-256 key with an
// uncompressed point, so nothing else is ever mistaken for one.
#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>

#include "crypto/ecdsa_p256.h"

namespace patchlib {

class KeyFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class KeyFile {
public:
    static std::string PrivateDer(const KeyPair& key);
    static std::string PublicDer(const PublicKey& key);
    // Throw KeyFileError unless `der` is exactly the encoding above.
    static KeyPair FromPrivateDer(const std::string& der);
    static PublicKey FromPublicDer(const std::string& der);

    // Throw KeyFileError naming the file.
    static KeyPair ReadPrivate(const std::filesystem::path& file);
    static PublicKey ReadPublic(const std::filesystem::path& file);
    // Writes NAME.key (readable by its owner only, where the system allows)
    // and NAME.pub; refuses to replace either, so a key is never lost.
    static void WritePair(const std::filesystem::path& name, const KeyPair& key);
};

}  // namespace patchlib

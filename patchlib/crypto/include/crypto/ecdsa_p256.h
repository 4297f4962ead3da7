// ECDSA over the NIST P-256 curve with SHA-256 digests, through the
// platform's own crypto: CNG (bcrypt) on Windows, libcrypto natively. Keys
// and signatures are raw big-endian numbers, the form CNG takes directly.
#pragma once

#include <array>

#include "crypto/sha256.h"

namespace patchlib {

using PublicKey = std::array<unsigned char, 64>;     // the point: X then Y
using SecretKey = std::array<unsigned char, 32>;     // the scalar d
using RawSignature = std::array<unsigned char, 64>;  // r then s

struct KeyPair {
    SecretKey secret{};
    PublicKey publicKey{};
};

class EcdsaP256 {
public:
    // Throws std::runtime_error when the platform cannot make a key.
    static KeyPair Generate();
    // Throws std::runtime_error when the platform refuses the key.
    static RawSignature Sign(const KeyPair& key, const Digest& digest);
    // False for a wrong signature and for a point the platform refuses.
    static bool Verify(const PublicKey& key, const Digest& digest, const RawSignature& signature);
};

}  // namespace patchlib

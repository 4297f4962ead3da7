// SHA-256 of file contents and of the patch body. Natively backed by
// libcrypto, on Windows by the system's CNG (bcrypt) so the DLL needs no
// crypto library of its own.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <filesystem>
#include <string>

namespace patchlib {

using Digest = std::array<unsigned char, 32>;

class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void Update(const void* data, size_t size);
    // Ends the computation; the object starts over afterwards.
    Digest Final();

    static Digest Of(const void* data, size_t size);
    // Hashes a file's content in fixed-size reads; false when it cannot be read.
    static bool OfFile(const std::filesystem::path& path, uint64_t& size, Digest& digest);
    static std::string ToHex(const Digest& digest);

private:
    struct State;
    std::unique_ptr<State> state_;
    void Reset();
};

}  // namespace patchlib

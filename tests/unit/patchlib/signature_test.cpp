// Signed patches: with trusted keys only a patch one of them signed applies,
// and a refusal leaves the tree untouched; key files survive a round trip.
#include <gtest/gtest.h>

#include "crypto/key_file.h"
#include "apply/patch_applier.h"
#include "builder/patch_builder.h"
#include "patch_kit.h"

namespace {

using namespace patchlib;
using namespace patchtest;
using R = PatchResult;

TEST(Signature, WithKeysOnlyAPatchATrustedKeySignedApplies) {
    TempDir dir;
    WriteFile(dir / "old/a.txt", "old");
    WriteFile(dir / "new/a.txt", "new");
    const KeyPair a = EcdsaP256::Generate(), b = EcdsaP256::Generate();
    auto build = [&](const KeyPair* key) {
        BuildOptions options;
        options.signingKey = key;
        PatchBuilder::Build(dir / "old", dir / "new", dir / "p", options);
        return ReadFile(dir / "p");
    };
    const std::string signedByA = build(&a);
    const size_t bodyEnd = signedByA.size() - 16 - 96;  // the signature block follows
    std::string badSignature = signedByA, rehashed = signedByA;
    badSignature.back() ^= 1;
    rehashed[bodyEnd - 1] ^= 1;  // a body byte changed, the body hash made to match
    const Digest hash = Sha256::Of(rehashed.data() + 56, bodyEnd - 56);
    rehashed.replace(24, 32, std::string(hash.begin(), hash.end()));
    const struct {
        const char* what;
        std::string bytes;
        std::vector<PublicKey> keys;
        R result;
    } cases[] = {
        {"signed, no keys", signedByA, {}, R::Ok},
        {"signed, its key second of two", signedByA, {b.publicKey, a.publicKey}, R::Ok},
        {"unsigned", build(nullptr), {a.publicKey}, R::Untrusted},
        {"version 1", ReadFile(PATCH_SEEDS "/upgrade-v1.mrl"), {a.publicKey}, R::Untrusted},
        {"another key", signedByA, {b.publicKey}, R::Untrusted},
        {"signature changed", badSignature, {a.publicKey}, R::Untrusted},
        {"body changed and hashed again", rehashed, {a.publicKey}, R::Untrusted},
    };
    for (const auto& c : cases) {
        CopyTree(dir / "old", dir / "work");
        WriteFile(dir / "q", c.bytes);
        EXPECT_EQ(PatchApplier({{}, c.keys}).Apply(dir / "q", dir / "work"), c.result) << c.what;
        EXPECT_EQ(TakeSnapshot(dir / "work"),
                  TakeSnapshot(dir / (c.result == R::Ok ? "new" : "old")))
            << c.what;
    }
}

TEST(KeyFile, APairReadsBackAndIsNeverReplaced) {
    TempDir dir;
    const KeyPair key = EcdsaP256::Generate();
    KeyFile::WritePair(dir / "studio", key);
    EXPECT_THROW(KeyFile::WritePair(dir / "studio", key), KeyFileError);
    EXPECT_EQ(KeyFile::ReadPrivate(dir / "studio.key").secret, key.secret);
    EXPECT_EQ(KeyFile::ReadPublic(dir / "studio.pub"), key.publicKey);
}

}  // namespace

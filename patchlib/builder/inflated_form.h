// A changed file's delta over its deflate streams inflated: the streams of
// both versions that zlib rebuilds exactly and the other version does not
// hold unchanged, the zip header fields recoded when the files have zip
// headers, the delta between the expanded forms, and the check that the new
// form decodes and deflates back to the new file (what the applier will do)
// before the form may be used.
#pragma once

#include <cstdint>
#include <string>

#include "crypto/sha256.h"
#include "delta/delta_encoder.h"

namespace patchlib {

class InflatedForm {
public:
    bool usable = false;     // changed streams or zip headers, and the rebuild checked out
    bool zipFields = false;  // the zip header fields are recoded (InflatedZipDeltaFile)
    std::string records;  // the streams section, deflated
    uint64_t recordsSize = 0;
    DeltaStreams delta;

    static InflatedForm Of(const std::string& oldData, const std::string& newData,
                           const Digest& newHash, uint64_t window);
};

}  // namespace patchlib

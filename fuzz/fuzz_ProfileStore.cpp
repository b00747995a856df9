// "provider_profiles.json", the model-provider profiles.
#include "FuzzInput.h"

#include "core/providers/ProviderProfile.h"

FUZZ_QUIET_QT

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const auto profiles = ProviderProfile::decodeList(fuzzBytes(data, size));
    if (!profiles)
        return 0;
    // Every change rewrites the whole file from what was read: profiles read
    // once must read back the same, or the next change would lose them all.
    const auto again = ProviderProfile::decodeList(ProviderProfile::encodeList(*profiles));
    FUZZ_CHECK(again && again->size() == profiles->size());
    for (qsizetype i = 0; i < profiles->size(); ++i) {
        const ProviderProfile& a = profiles->at(i);
        const ProviderProfile& b = again->at(i);
        FUZZ_CHECK(a.id == b.id && a.provider == b.provider && a.name == b.name && a.baseURL == b.baseURL
            && a.defaultModel == b.defaultModel && a.lastVerifyOK == b.lastVerifyOK
            && a.lastVerifyDetail == b.lastVerifyDetail);
        // Dates are stored to the second.
        FUZZ_CHECK(storedSecond(a.createdAt) == storedSecond(b.createdAt));
        FUZZ_CHECK(a.lastVerifiedAt.has_value() == b.lastVerifiedAt.has_value());
        if (a.lastVerifiedAt)
            FUZZ_CHECK(storedSecond(*a.lastVerifiedAt) == storedSecond(*b.lastVerifiedAt));
    }
    return 0;
}

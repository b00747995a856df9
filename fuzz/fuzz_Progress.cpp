// The gateway's answer to GET …/commands/<id>/progress, read by the followed
// command's loader (progress required) and by the evidence fetcher.
#include "FuzzInput.h"

#include "core/gateway/Replies.h"

FUZZ_QUIET_QT

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray body = fuzzBytes(data, size);
    const auto required = replies::decodeProgress(body, true);
    const auto optional = replies::decodeProgress(body, false);
    // Taking a missing list as empty never rejects what the stricter reading accepts.
    FUZZ_CHECK(!required || optional);
    if (required)
        FUZZ_CHECK(required->lines == optional->lines);
    return 0;
}

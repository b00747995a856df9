// The gateway's answer to GET …/permissions.
#include "FuzzInput.h"

#include "core/gateway/Replies.h"

FUZZ_QUIET_QT

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray body = fuzzBytes(data, size);
    const auto reply = replies::decodePermissions(body);
    if (!reply)
        reply.failure().description();
    return 0;
}

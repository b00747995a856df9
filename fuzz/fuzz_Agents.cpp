// The gateway's answer to GET …/agents.
#include "FuzzInput.h"

#include "core/gateway/Replies.h"

FUZZ_QUIET_QT

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray body = fuzzBytes(data, size);
    const auto reply = replies::decodeAgents(body);
    if (!reply)
        reply.failure().description();
    return 0;
}

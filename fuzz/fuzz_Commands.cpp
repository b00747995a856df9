// The gateway's answer to GET …/commands.
#include "FuzzInput.h"

#include "core/design/TolvarineStatus.h"
#include "core/gateway/Replies.h"

FUZZ_QUIET_QT

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray body = fuzzBytes(data, size);
    const auto reply = replies::decodeCommands(body);
    if (!reply) {
        reply.failure().description();
        return 0;
    }
    for (const CommandBrief& command : reply->commands)
        command.tolvarineStatus();
    return 0;
}

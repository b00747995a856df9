// The gateway's answer to GET …/commands, read whole and read in parts on
// the pool: the two readings agree.
#include "FuzzInput.h"

#include "core/design/TolvarineStatus.h"
#include "core/gateway/Replies.h"

#include <QCoreApplication>
#include <QCoroTask>

FUZZ_QUIET_QT

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The reading in parts is awaited on an event loop.
    static int argc = 1;
    static char name[] = "fuzz_Commands";
    static char* argv[] = { name, nullptr };
    static QCoreApplication app(argc, argv);

    const QByteArray body = fuzzBytes(data, size);
    const auto reply = replies::decodeCommands(body);
    const auto parts = QCoro::waitFor(replies::decodeCommandsOn(replies::decodePool(), body));
    FUZZ_CHECK(bool(reply) == bool(parts));
    if (!reply) {
        FUZZ_CHECK(reply.failure().description() == parts.failure().description());
        return 0;
    }
    FUZZ_CHECK(reply->commands.size() == parts->commands.commands.size());
    for (qsizetype i = 0; i < reply->commands.size(); ++i) {
        FUZZ_CHECK(reply->commands.at(i).id == parts->commands.commands.at(i).id);
        reply->commands.at(i).tolvarineStatus();
    }
    return 0;
}

// The companion tool's `daemon status --json` report on the agent service.
#include "FuzzInput.h"

#include "core/runtimes/DaemonStatus.h"

FUZZ_QUIET_QT

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString output = fuzzToolOutput(data, size);
    for (const int exitCode : { 0, 1 }) {
        const DaemonStatus::Result result = DaemonStatus::interpret(exitCode, output);
        // Either a report or a reason in words, never neither.
        FUZZ_CHECK(result.ok() == result.failure.isEmpty());
        if (result.ok())
            result.report->display();
    }
    return 0;
}

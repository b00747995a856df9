// The companion tool's answer to `workspace relocate … --json`.
#include "FuzzInput.h"

#include "core/workspaces/Relocation.h"

FUZZ_QUIET_QT

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Relocation::parse(fuzzToolOutput(data, size));
    return 0;
}

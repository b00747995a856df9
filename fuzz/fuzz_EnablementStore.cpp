// "runtime_enabled.json", the enabled flag of each runtime kind.
#include "FuzzInput.h"

#include "core/runtimes/RuntimeEnablementStore.h"

FUZZ_QUIET_QT

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    RuntimeEnablementStore::decode(fuzzBytes(data, size));
    return 0;
}

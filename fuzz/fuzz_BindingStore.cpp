// "runtime_bindings.json", which provider profile each runtime kind uses; the
// same string-map reading serves "runtime_models.json".
#include "FuzzInput.h"

#include "core/providers/RuntimeBindingStore.h"

FUZZ_QUIET_QT

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    for (const QUuid& id : RuntimeBindingStore::decode(fuzzBytes(data, size)))
        FUZZ_CHECK(!id.isNull());
    return 0;
}

// The companion tool's `employee evidence <role> --json` skill contract.
#include "FuzzInput.h"

#include "core/workforce/SkillBridge.h"

FUZZ_QUIET_QT

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString output = fuzzToolOutput(data, size);
    const SkillBridge::Result ok = SkillBridge::interpret(0, output);
    if (const auto* error = std::get_if<SkillBridge::LoadError>(&ok))
        FUZZ_CHECK(!error->detail.isEmpty());
    const SkillBridge::Result failed = SkillBridge::interpret(1, output);
    FUZZ_CHECK(std::holds_alternative<SkillBridge::LoadError>(failed));
    FUZZ_CHECK(!std::get<SkillBridge::LoadError>(failed).detail.isEmpty());
    return 0;
}

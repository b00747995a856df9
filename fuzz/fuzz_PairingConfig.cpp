// A pairing file the companion tool wrote (config.json, workspaces/<ws>.json).
#include "FuzzInput.h"

#include "core/gateway/CLIConfig.h"

FUZZ_QUIET_QT

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::optional<CLIConfig> config = CLIConfig::fromJson(fuzzBytes(data, size));
    if (!config)
        return 0;
    config->displayName();
    // What decodes once decodes again to the same record from its own JSON.
    FUZZ_CHECK(CLIConfig::fromJson(config->toJson()) == config);
    return 0;
}

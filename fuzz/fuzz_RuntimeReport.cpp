// The companion tool's `runtimes --json` report: the inventory and each
// runtime's setup contract, read from the first "{" of its output, and the
// rows the runtime section builds from it.
#include "FuzzInput.h"

#include "core/providers/RuntimeSetupInfo.h"
#include "core/runtimes/RuntimeInventory.h"
#include "core/runtimes/RuntimeRow.h"

FUZZ_QUIET_QT

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString output = fuzzToolOutput(data, size);
    const qsizetype brace = output.indexOf(QLatin1Char('{'));
    if (brace < 0)
        return 0;
    const QByteArray report = output.mid(brace).toUtf8();
    if (const auto setup = RuntimeSetupInfo::decodeReport(report)) {
        for (const RuntimeSetupInfo& info : *setup)
            info.slot(QStringLiteral("anthropic"));
    }
    QString error;
    const std::optional<RuntimeInventory> inventory = RuntimeInventory::decode(report, &error);
    FUZZ_CHECK(inventory || !error.isEmpty());
    if (!inventory)
        return 0;
    for (const RuntimeEntry& entry : inventory->runtimes) {
        const RuntimeRow row(entry);
        row.capabilitySummary();
        row.diagnosticText();
    }
    return 0;
}

// "desktop_children.json", the ledger of runtime workers left to end.
#include "FuzzInput.h"

#include "core/runtimes/RuntimeChildLedger.h"

#include <QJsonArray>
#include <QJsonDocument>

FUZZ_QUIET_QT

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    QString error;
    const auto records = RuntimeChildLedger::decode(fuzzBytes(data, size), &error);
    if (!records) {
        FUZZ_CHECK(!error.isEmpty());
        return 0;
    }
    // The ledger is rewritten from what was read whenever a worker starts or
    // ends: a record read once must survive being written back.
    QJsonArray array;
    for (const RuntimeChildRecord& r : *records)
        array.append(r.toJson());
    const auto again = RuntimeChildLedger::decode(QJsonDocument(array).toJson());
    FUZZ_CHECK(again && again->size() == records->size());
    for (qsizetype i = 0; i < records->size(); ++i) {
        const RuntimeChildRecord& a = records->at(i);
        const RuntimeChildRecord& b = again->at(i);
        FUZZ_CHECK(a.pid == b.pid && a.exe == b.exe && a.workspace == b.workspace && a.kind == b.kind
            && a.ownerPID == b.ownerPID);
        // Times are stored to the second.
        FUZZ_CHECK(storedSecond(a.startedAt) == storedSecond(b.startedAt));
    }
    return 0;
}

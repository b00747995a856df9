// The store of agent connections the user added, and the words each
// connection's command line is cut into.
#include "FuzzInput.h"

#include "core/agents/AdvancedConnection.h"

#include <QJsonArray>
#include <QJsonDocument>

FUZZ_QUIET_QT

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const auto connections = AdvancedConnection::decodeList(fuzzBytes(data, size));
    if (!connections)
        return 0;
    QJsonArray array;
    for (const AdvancedConnection& c : *connections) {
        c.words();
        array.append(c.toJson());
    }
    // Every change rewrites the whole file from what was read: connections
    // read once must read back the same (times are stored to the second).
    const auto again = AdvancedConnection::decodeList(QJsonDocument(array).toJson());
    FUZZ_CHECK(again && again->size() == connections->size());
    for (qsizetype i = 0; i < connections->size(); ++i) {
        const AdvancedConnection& a = connections->at(i);
        const AdvancedConnection& b = again->at(i);
        FUZZ_CHECK(a.id == b.id && a.kind == b.kind && a.name == b.name && a.command == b.command);
        FUZZ_CHECK(storedSecond(a.createdAt) == storedSecond(b.createdAt));
    }
    return 0;
}

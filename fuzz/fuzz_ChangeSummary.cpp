// The gateway's change summary of a task (GET …/commands/<id>/changes) and
// the evidence state made of it.
#include "FuzzInput.h"

#include "core/gateway/TaskEvidence.h"
#include "core/platform/Graphemes.h"

FUZZ_QUIET_QT

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray body = fuzzBytes(data, size);
    const TaskEvidenceSnapshot snap = EvidenceLive::snapshot(QStringLiteral("cmd-1"), Result<QByteArray>(body));
    snap.state.diagnostics();
    EvidenceLive::headline(snap.state, true);
    EvidenceLive::headline(snap.state, false);
    for (const DeskFileChange& f : snap.state.viewable)
        FUZZ_CHECK(!f.hash.isEmpty());
    // Ids are shortened by characters as the user sees them.
    Graphemes::leading(QString::fromUtf8(body), 8);
    return 0;
}

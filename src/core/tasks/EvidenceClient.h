#pragma once

#include "core/gateway/CLIConfig.h"
#include "core/gateway/Failure.h"
#include "core/gateway/Records.h"
#include "core/gateway/TaskEvidence.h"

#include <QList>
#include <QObject>
#include <QString>

#include <QCoroTask>

#include <optional>

class GatewayClient;

// The reads of a task's evidence: its change summary, the tail of its
// progress and the text of one file it produced. They keep nothing between
// calls; the requests go through a gateway client of its own, so destroying
// this client aborts the requests in flight and their callers resume. The
// change summary and the progress tail are polls: they wait their turn
// behind the window's status reads (RequestGate); a file opened by the user
// does not.
class EvidenceClient : public QObject {
    Q_OBJECT
public:
    explicit EvidenceClient(QObject* parent = nullptr);
    // The one client of `owner` (made on first use, a child of it): every
    // evidence view of a window shares one network manager, not one a view.
    static EvidenceClient* sharedBy(QObject* owner);

    // Never fails: a failed fetch is a failed state with an empty changes state.
    // A poll still waiting its turn when `requester` goes is not sent.
    QCoro::Task<TaskEvidenceSnapshot> evidenceSnapshot(
        QString id, std::optional<CLIConfig> config, QObject* requester = nullptr);
    QCoro::Task<Result<QList<ProgressLine>>> progressLines(
        QString id, std::optional<CLIConfig> config, int limit, QObject* requester = nullptr);
    // The file's text; a body that is not UTF-8 is an error (-2).
    QCoro::Task<Result<QString>> artifact(QString hash, std::optional<CLIConfig> config);

    GatewayClient* client() const { return m_client; }

private:
    GatewayClient* m_client;
};

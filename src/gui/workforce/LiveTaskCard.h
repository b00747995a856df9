#pragma once

#include "core/gateway/Records.h"
#include "gui/design/Card.h"

#include <QDateTime>

#include <optional>

class ElidedLabel;
class ElidedLine;
class QLabel;
class TaskEvidenceModel;
class TaskEvidenceView;

// One running command on the live task board: a "正在执行" badge, who runs
// it, how long it has run, its text (at most three lines) and its evidence.
// Identifier "liveboard.card." + the command's id. Its evidence is the
// board's, fetched whether or not the card is made.
class LiveTaskCard : public Card {
    Q_OBJECT
public:
    LiveTaskCard(const CommandBrief& command, TaskEvidenceModel* evidence, QWidget* parent = nullptr);

    // The command's latest fields, the roster and the time now.
    void setContent(const CommandBrief& command, const QList<TeammateBrief>& team, const QDateTime& now);

    TaskEvidenceView* evidence() const { return m_evidence; }

private:
    ElidedLine* m_who;
    std::optional<bool> m_named; // how the runner line is styled; none before the first update
    QLabel* m_elapsed;
    ElidedLabel* m_text;
    TaskEvidenceView* m_evidence;
};

#pragma once

#include "core/gateway/Records.h"
#include "gui/design/RoundedPlate.h"

#include <optional>
#include <utility>

class AdaptiveColumns;
class QLabel;

// The workspace's latest commands as small cards in adaptive columns (the
// last 12; the header counts all). Cards are kept by command id. Absent while
// the command list cannot be read or is empty. Identifier "tasks.card".
class TasksCard : public RoundedPlate {
    Q_OBJECT
public:
    explicit TasksCard(QWidget* parent = nullptr);

    void setContent(const QList<CommandBrief>& commands, bool commandsFailed);

    AdaptiveColumns* grid() const { return m_grid; }

private:
    // What the card shows now: the same list again changes nothing.
    std::optional<std::pair<QList<CommandBrief>, bool>> m_shown;
    QLabel* m_header;
    AdaptiveColumns* m_grid;
};

#pragma once

#include "core/gateway/Records.h"
#include "gui/design/RoundedPlate.h"

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
    QLabel* m_header;
    AdaptiveColumns* m_grid;
};

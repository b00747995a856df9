#pragma once

#include "core/agents/AdvancedConnection.h"

#include <QWidget>

#include <functional>
#include <optional>
#include <tuple>

class Chip;
class ElidedLabel;
class QHBoxLayout;
class QLabel;
class StatusBadge;

// One user-added agent connection: its name, kind and command line, whether
// its worker runs in the selected workspace, and its buttons (start or stop
// for a custom agent; remove for every kind).
class AdvancedConnectionRow : public QWidget {
    Q_OBJECT
public:
    struct Actions {
        std::function<void()> start;
        std::function<void()> stop;
        std::function<void()> remove;
    };

    AdvancedConnectionRow(const QUuid& id, Actions actions, QWidget* parent = nullptr);

    // `canLaunch`: a workspace is selected to start it in.
    void setState(const AdvancedConnection& connection, bool running, bool canLaunch);

private:
    QString m_prefix;
    Actions m_actions;
    QLabel* m_name;
    Chip* m_kind;
    StatusBadge* m_running;
    ElidedLabel* m_command;
    QHBoxLayout* m_buttons;
    // What the buttons were built for: kind, running, can launch.
    std::optional<std::tuple<AdvancedConnectionKind, bool, bool>> m_built;
};

#pragma once

#include "core/agents/AdvancedConnection.h"

#include <QPointer>
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

    // `canLaunch`: a workspace is selected to start it in. `wouldStop`: the
    // name of the connection whose worker starting this one stops.
    void setState(const AdvancedConnection& connection, bool running, bool canLaunch,
        const std::optional<QString>& wouldStop = std::nullopt);
    // "启动它会先停掉正在跑的「…」…", shown while starting it would stop another.
    QLabel* replaceNote() const { return m_replaceNote; }

    static QString replaceText(const QString& running);

private:
    void buildButtons(AdvancedConnectionKind kind, bool running, bool canLaunch);

    QString m_prefix;
    Actions m_actions;
    QLabel* m_name;
    Chip* m_kind;
    StatusBadge* m_running;
    ElidedLabel* m_command;
    QLabel* m_replaceNote;
    QHBoxLayout* m_buttons;
    QPointer<QWidget> m_start;
    // What the buttons were built for: kind, running, can launch.
    std::optional<std::tuple<AdvancedConnectionKind, bool, bool>> m_built;
};

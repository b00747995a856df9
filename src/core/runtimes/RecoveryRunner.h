#pragma once

#include "core/gateway/CLIConfig.h"

#include <QCoroTask>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <optional>

// The main window's "检查并恢复": one pass over six checks (workspace folder,
// where a moved folder went, the agent service, the local runtimes, the
// gateway, the numbers on screen) that repairs what it can and lists what
// only the user can do. It never re-binds a moved workspace itself.
class RecoveryRunner : public QObject {
    Q_OBJECT
public:
    enum class State { Ok, NeedsYou, Failed, Pending, Running };

    struct Step {
        QString id;
        QString title;
        State state = State::Pending;
        QString detail; // the one-line text of Ok, NeedsYou and Failed
        QString action; // what the user should do; "" when nothing

        bool operator==(const Step&) const = default;
    };

    // What the status model shows once the reload of step 5 is in: the text
    // of each failed load that the last two steps speak for, none when read.
    struct Reading {
        std::optional<QString> commands; // the command list: whether the gateway answers at all
        std::optional<QString> team; // the employees
        // The window showed another workspace by then: nothing of the run's own was read.
        bool elsewhere = false;
    };

    static constexpr std::chrono::milliseconds kToolTimeLimit { std::chrono::seconds(60) };

    explicit RecoveryRunner(QObject* parent = nullptr);

    QList<Step> steps() const { return m_steps; }
    bool running() const { return m_running; }
    bool finished() const { return m_finished; }
    QList<Step> needsYou() const;
    QList<Step> failures() const;

    // One run for the selected workspace (none when nothing is paired). A call
    // while a run is in progress returns at once. `reloadInventory` is called
    // when the runtime report was read; `reloadStatus` is awaited in step 5,
    // and what it read decides steps 5 and 6.
    QCoro::Task<> run(std::optional<CLIConfig> workspace, std::function<void()> reloadInventory,
        std::function<QCoro::Task<Reading>()> reloadStatus);

    // Tests shorten the limit of each companion-tool run.
    void setTimeLimit(std::chrono::milliseconds limit) { m_timeLimit = limit; }

signals:
    void changed();

private:
    void set(const QString& id, State state, const QString& detail = {}, const QString& action = {});

    QList<Step> m_steps;
    bool m_running = false;
    bool m_finished = false;
    std::chrono::milliseconds m_timeLimit = kToolTimeLimit;
};

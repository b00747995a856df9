#pragma once

#include "core/gateway/CLIConfig.h"
#include "core/workforce/EmployeeSkillView.h"

#include <QObject>
#include <QString>

#include <QCoroTask>

#include <chrono>
#include <optional>

// The skill state of an employee's detail pane: the role asked for, and the
// contract or the failure text of its last load. A load whose role is no
// longer the one asked for when it finishes is dropped, so the pane never
// shows another role's contract. Lives on the GUI thread.
class SkillLoader : public QObject {
    Q_OBJECT
public:
    explicit SkillLoader(QObject* parent = nullptr);

    const QString& role() const { return m_role; }
    const std::optional<EmployeeSkillView>& skill() const { return m_skill; }
    const std::optional<QString>& skillError() const { return m_skillError; }

    // Asks for `role`'s contract and loads it off the GUI thread. An empty
    // role loads nothing and keeps what is shown. Nothing is cleared while a
    // load runs.
    QCoro::Task<> load(QString role, std::optional<CLIConfig> config);

    // Lets tests shorten the tool's time limit.
    void setTimeLimitForTesting(std::chrono::milliseconds limit) { m_timeLimit = limit; }

signals:
    void changed(); // skill, skillError

private:
    QString m_role;
    std::optional<EmployeeSkillView> m_skill;
    std::optional<QString> m_skillError;
    std::chrono::milliseconds m_timeLimit { std::chrono::seconds(60) };
};

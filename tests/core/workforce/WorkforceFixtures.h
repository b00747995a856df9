#pragma once

#include "core/gateway/Records.h"

#include <QDateTime>
#include <QTimeZone>

// Small builders for roster and command fixtures.
struct Cmd {
    CommandBrief c;
    Cmd(const QString& id, const QString& status, const QString& employee = {})
    {
        c.id = id;
        c.text = QStringLiteral("task ") + id;
        c.status = status;
        c.employeeID = employee;
    }
    Cmd& by(const QString& device)
    {
        c.claimedBy = device;
        return *this;
    }
    Cmd& deps(const QStringList& ids)
    {
        c.dependsOn = ids;
        return *this;
    }
    Cmd& rt(const QString& runtime)
    {
        c.ranRuntime = runtime;
        return *this;
    }
    Cmd& at(int minute)
    {
        c.completedAt = QDateTime(QDate(2026, 5, 1), QTime(10, minute), QTimeZone::utc());
        return *this;
    }
    Cmd& verdict(const QString& v)
    {
        c.verdict = v;
        return *this;
    }
    Cmd& text(const QString& t)
    {
        c.text = t;
        return *this;
    }
    operator CommandBrief() const { return c; }
};

struct Mate {
    TeammateBrief t;
    Mate(const QString& id, const QString& name, const QString& device = {})
    {
        t.id = id;
        t.name = name;
        t.device = device;
        t.deviceAlive = device.isEmpty() ? std::nullopt : std::optional<bool>(true);
    }
    Mate& alive(std::optional<bool> a)
    {
        t.deviceAlive = a;
        return *this;
    }
    Mate& runtime(const QString& r)
    {
        t.deviceRuntime = r;
        return *this;
    }
    Mate& task(const QString& task)
    {
        t.deviceTask = task;
        return *this;
    }
    Mate& role(const QString& r)
    {
        t.roleTitle = r;
        return *this;
    }
    operator TeammateBrief() const { return t; }
};

#pragma once

#include "core/gateway/Records.h"

#include <QDateTime>
#include <QTimeZone>

// Small builders for roster and command fixtures: Cmd("id", "status", "employee").by("device")...
struct Cmd {
    CommandBrief c;
    Cmd(const QString& id, const QString& status, const QString& employee = {})
        : c { .id = id, .text = "task " + id, .status = status, .employeeID = employee }
    {
    }
    Cmd& by(const QString& device) { return c.claimedBy = device, *this; }
    Cmd& deps(const QStringList& ids) { return c.dependsOn = ids, *this; }
    Cmd& rt(const QString& runtime) { return c.ranRuntime = runtime, *this; }
    Cmd& at(int minute) { return c.completedAt = QDateTime({ 2026, 5, 1 }, { 10, minute }, QTimeZone::utc()), *this; }
    Cmd& verdict(const QString& v) { return c.verdict = v, *this; }
    Cmd& text(const QString& t) { return c.text = t, *this; }
    operator CommandBrief() const { return c; }
};

struct Mate {
    TeammateBrief t;
    Mate(const QString& id, const QString& name, const QString& device = {})
        : t { .id = id, .name = name, .device = device }
    {
        if (!device.isEmpty())
            t.deviceAlive = true;
    }
    Mate& alive(std::optional<bool> a) { return t.deviceAlive = a, *this; }
    Mate& runtime(const QString& r) { return t.deviceRuntime = r, *this; }
    Mate& task(const QString& task) { return t.deviceTask = task, *this; }
    Mate& role(const QString& r) { return t.roleTitle = r, *this; }
    operator TeammateBrief() const { return t; }
};

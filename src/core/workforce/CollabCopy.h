#pragma once

#include <QString>
#include <QStringList>

// The two sentences about whom an employee waits on.
namespace CollabCopy {

// "等待 A、B 和 C 完成"; with no names "在等一件还没开始的事".
QString waitingFor(const QStringList& names);
// "A 那一步失败了，它没法开始" / "A 和 B 那几步失败了，它没法开始".
QString blockedByFailure(const QStringList& names);

} // namespace CollabCopy

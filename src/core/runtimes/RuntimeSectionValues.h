#pragma once

#include "core/runtimes/RuntimeRow.h"

#include <QList>
#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>

// Values the main window derives from the runtime inventory for its runtime
// section and the views that name runtimes.
namespace RuntimeSectionValues {

// The rows that get a card: every kind but the user-added connection kinds.
QList<RuntimeRow> plainRuntimeRows(const QList<RuntimeRow>& rows);
// Lower-cased kinds, plus the lower-cased file name of every row whose detail
// is an absolute path (the executable).
QSet<QString> knownRuntimeNames(const QList<RuntimeRow>& rows);
// "已注册 R 家 · 已安装 I 家 · 可用 A 家 · 待登录 L 家 · 待配凭据 C 家"; none for no counts.
std::optional<QString> runtimeCountLine(const QMap<QString, qint64>& counts);
// The output log's lines: the last `count` of them.
QStringList logTail(const QStringList& lines, int count = 40);

} // namespace RuntimeSectionValues

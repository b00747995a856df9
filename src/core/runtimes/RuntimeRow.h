#pragma once

#include "core/design/RuntimeUsability.h"
#include "core/runtimes/RuntimeInventory.h"

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

// One local runtime as the screens show it, built from one report entry.
struct RuntimeRow {
    QString kind;
    QString display;
    bool installed = false;
    QString version;
    QString authState;
    QString authSource;
    QString authHint;
    QStringList loginCommand;
    QString loginNote;
    RuntimeUsability usability = RuntimeUsability::unknown;
    qint64 capYes = 0;
    qint64 capAuthRequired = 0;
    qint64 capUnknown = 0;
    qint64 capNo = 0;
    qint64 capUnenforceable = 0;
    QString detail;

    bool operator==(const RuntimeRow&) const = default;

    RuntimeRow() = default;
    explicit RuntimeRow(const RuntimeEntry& entry);

    // "3 格支持 · 1 格约束不住 · …"
    QString capabilitySummary() const;
    // (label, value) pairs of the diagnostics block, in display order.
    QList<QPair<QString, QString>> diagnosticRows() const;
    // The rows as one copyable text headed by "display（kind）".
    QString diagnosticText() const;
};

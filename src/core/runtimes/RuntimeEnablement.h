#pragma once

#include "core/runtimes/RuntimeNotice.h"
#include "core/runtimes/RuntimeRow.h"

#include <QCoroTask>
#include <QList>
#include <QMap>
#include <QObject>
#include <QString>

// The main window's map of runtime kind → enabled, for the current inventory
// rows, and the handler behind the cards' enable and disable buttons.
class RuntimeEnablement : public QObject {
    Q_OBJECT
public:
    explicit RuntimeEnablement(QObject* parent = nullptr);

    // Exactly the kinds of the rows last reloaded, each resolved from the file
    // (true when it has no entry).
    QMap<QString, bool> enabled() const { return m_enabled; }
    // A kind that is not in the map counts as enabled.
    bool isEnabled(const QString& kind) const { return m_enabled.value(kind, true); }

    // Rebuilds the map from the file for these rows.
    void reload(const QList<RuntimeRow>& rows);
    // Writes the flag on the store's queue; on success reloads for the rows
    // and posts the success notice, on failure posts "改不了启用状态：" + the
    // reason as an error. Returns what it posted.
    QCoro::Task<RuntimeNotice> setEnabled(RuntimeRow row, bool enabled, QList<RuntimeRow> rows);

signals:
    void changed();
    void notice(const QString& text, bool isError);

private:
    void apply(const QList<RuntimeRow>& rows, const QMap<QString, bool>& flags);

    QMap<QString, bool> m_enabled;
};

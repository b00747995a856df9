#pragma once

#include "core/gateway/Failure.h"

#include <QDateTime>
#include <QString>

// Feedback of the last action on one item (a permission tier, a feed item):
// under way with a text, done with a text and the moment, failed with a text,
// not known (the reply did not come) with a text, or nothing to report.
class PermActionState {
public:
    enum class Kind { Working, Ok, Failed, Idle, Unknown };

    PermActionState() = default;
    static PermActionState working(const QString& text);
    static PermActionState ok(const QString& text, const QDateTime& at);
    static PermActionState failed(const QString& text);
    static PermActionState idle() { return {}; }
    static PermActionState unknown(const QString& text);

    Kind kind() const { return m_kind; }
    bool isWorking() const { return m_kind == Kind::Working; }
    // The working, done or failure text; empty when idle.
    const QString& text() const { return m_text; }
    // The moment of success; null unless ok.
    const QDateTime& at() const { return m_at; }

    bool operator==(const PermActionState&) const = default;

    // What a failed action shows: the error's description, then a space and
    // its advice when the gateway's code has advice.
    static QString failureText(const Failure& failure);
    // What an action whose reply did not come says, while its list is read
    // again and once a list read after it is on show.
    static QString unknownText(const Failure& failure, bool listed);

private:
    Kind m_kind = Kind::Idle;
    QString m_text;
    QDateTime m_at;
};

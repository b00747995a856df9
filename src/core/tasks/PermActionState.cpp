#include "core/tasks/PermActionState.h"

PermActionState PermActionState::working(const QString& text)
{
    PermActionState s;
    s.m_kind = Kind::Working;
    s.m_text = text;
    return s;
}

PermActionState PermActionState::ok(const QString& text, const QDateTime& at)
{
    PermActionState s;
    s.m_kind = Kind::Ok;
    s.m_text = text;
    s.m_at = at;
    return s;
}

PermActionState PermActionState::failed(const QString& text)
{
    PermActionState s;
    s.m_kind = Kind::Failed;
    s.m_text = text;
    return s;
}

QString PermActionState::failureText(const Failure& failure)
{
    const std::optional<QString> advice = failure.advice();
    return advice ? failure.description() + QLatin1Char(' ') + *advice : failure.description();
}

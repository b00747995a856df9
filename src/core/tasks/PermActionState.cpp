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

PermActionState PermActionState::unknown(const QString& text)
{
    PermActionState s;
    s.m_kind = Kind::Unknown;
    s.m_text = text;
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

QString PermActionState::unknownText(const Failure& failure, bool listed)
{
    return failure.description()
        + (listed ? QStringLiteral("，不知道办成了没有；列表已经重新读过，以列表为准。")
                  : QStringLiteral("，不知道办成了没有；正在重新读列表…"));
}

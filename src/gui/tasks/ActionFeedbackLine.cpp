#include "gui/tasks/ActionFeedbackLine.h"

ActionFeedbackLine::ActionFeedbackLine(qreal pointSize, bool showTime, QWidget* parent)
    : OutcomeLine(pointSize, parent)
    , m_showTime(showTime)
{
}

void ActionFeedbackLine::setState(const PermActionState& state)
{
    switch (state.kind()) {
    case PermActionState::Kind::Idle:
        setOutcome(Kind::Idle, QString());
        break;
    case PermActionState::Kind::Working:
        setOutcome(Kind::Working, state.text());
        break;
    case PermActionState::Kind::Ok:
        setOutcome(Kind::Ok,
            m_showTime
                ? state.text() + QStringLiteral(" · ") + state.at().toLocalTime().toString(QStringLiteral("HH:mm:ss"))
                : state.text());
        break;
    case PermActionState::Kind::Failed:
        setOutcome(Kind::Failed, state.text());
        break;
    case PermActionState::Kind::Unknown:
        setOutcome(Kind::Unknown, state.text());
        break;
    }
}

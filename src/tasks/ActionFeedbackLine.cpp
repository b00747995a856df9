#include "tasks/ActionFeedbackLine.h"

#include "design/BusyIndicator.h"
#include "design/DS.h"
#include "design/DSFont.h"
#include "design/DSText.h"

#include <QHBoxLayout>
#include <QLabel>

ActionFeedbackLine::ActionFeedbackLine(qreal pointSize, bool showTime, QWidget* parent)
    : QWidget(parent)
    , m_showTime(showTime)
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(5);
    // The small spinner at 0.7 of its size.
    m_spinner = new BusyIndicator(DS::muted(0.5), 10, this);
    row->addWidget(m_spinner, 0, Qt::AlignVCenter);
    m_label = DSText::label(QString(), DSFont::medium(pointSize), DS::muted(0.5), this);
    m_label->setWordWrap(true);
    m_label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_label->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    row->addWidget(m_label, 1, Qt::AlignVCenter);
    setState(PermActionState::idle());
}

void ActionFeedbackLine::setState(const PermActionState& state)
{
    m_state = state;
    switch (state.kind()) {
    case PermActionState::Kind::Idle:
        m_label->clear();
        break;
    case PermActionState::Kind::Working:
        m_label->setText(state.text());
        DSText::setColour(m_label, DS::muted(0.5));
        break;
    case PermActionState::Kind::Ok: {
        QString text = QStringLiteral("✅ ") + state.text();
        if (m_showTime)
            text += QStringLiteral(" · ") + state.at().toLocalTime().toString(QStringLiteral("HH:mm:ss"));
        m_label->setText(text);
        DSText::setColour(m_label, DS::mint());
        break;
    }
    case PermActionState::Kind::Failed:
        m_label->setText(QStringLiteral("❌ ") + state.text());
        DSText::setColour(m_label, DS::danger());
        break;
    }
    m_spinner->setVisible(state.kind() == PermActionState::Kind::Working);
    setVisible(state.kind() != PermActionState::Kind::Idle);
}

QString ActionFeedbackLine::text() const
{
    return m_label->text();
}

#include "gui/tasks/ActionFeedbackLine.h"

#include "core/design/DS.h"
#include "core/design/DSFont.h"
#include "gui/design/BusyIndicator.h"
#include "gui/design/DSText.h"
#include "gui/design/Icon.h"

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
    m_mark = new Icon(QStringLiteral("checkmark.circle.fill"), pointSize, DS::mint(), this);
    row->addWidget(m_mark, 0, Qt::AlignTop);
    m_label = DSText::label(QString(), DSFont::medium(pointSize), DS::muted(0.5), this);
    m_label->setWordWrap(true);
    m_label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_label->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    row->addWidget(m_label, 1);
    setState(PermActionState::idle());
}

void ActionFeedbackLine::setState(const PermActionState& state)
{
    QString shown = state.text();
    switch (state.kind()) {
    case PermActionState::Kind::Idle:
        shown.clear();
        m_text.clear();
        break;
    case PermActionState::Kind::Working:
        DSText::setColour(m_label, DS::muted(0.5));
        m_text = shown;
        break;
    case PermActionState::Kind::Ok:
        if (m_showTime)
            shown += QStringLiteral(" · ") + state.at().toLocalTime().toString(QStringLiteral("HH:mm:ss"));
        m_mark->setSymbol(QStringLiteral("checkmark.circle.fill"));
        m_mark->setTint(DS::mint());
        DSText::setColour(m_label, DS::mint());
        m_text = QStringLiteral("✅ ") + shown;
        break;
    case PermActionState::Kind::Failed:
        m_mark->setSymbol(QStringLiteral("xmark.octagon.fill"));
        m_mark->setTint(DS::danger());
        DSText::setColour(m_label, DS::danger());
        m_text = QStringLiteral("❌ ") + shown;
        break;
    }
    m_label->setText(shown);
    setAccessibleName(m_text);
    m_spinner->setVisible(state.kind() == PermActionState::Kind::Working);
    m_mark->setVisible(state.kind() == PermActionState::Kind::Ok || state.kind() == PermActionState::Kind::Failed);
    setVisible(state.kind() != PermActionState::Kind::Idle);
}

void ActionFeedbackLine::setTrailing()
{
    m_label->setAlignment(Qt::AlignRight | Qt::AlignTop);
    m_label->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
}

QString ActionFeedbackLine::text() const
{
    return m_text;
}

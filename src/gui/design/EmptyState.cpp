#include "gui/design/EmptyState.h"

#include "core/design/DS.h"
#include "core/design/DSFont.h"
#include "gui/design/DSText.h"
#include "gui/design/ProseLabel.h"
#include "gui/design/SecondaryButton.h"

#include <QVBoxLayout>

EmptyState::EmptyState(Kind kind, const QString& message, const std::optional<Action>& action, QWidget* parent)
    : Card(kind == Kind::unreadable ? std::optional<QColor>(DS::amber()) : std::nullopt, false, parent)
{
    const bool unreadable = kind == Kind::unreadable;
    setObjectName(unreadable ? QStringLiteral("state.unreadable") : QStringLiteral("state.empty"));
    contentLayout()->setSpacing(8);
    m_message = new ProseLabel(message, this);
    m_message->setFont(DSFont::medium(12));
    DSText::setColour(m_message, unreadable ? DS::amber() : DS::muted(0.55));
    m_message->setAccessibleName(message);
    contentLayout()->addWidget(m_message, 0, Qt::AlignLeft);
    if (action) {
        m_button = new SecondaryButton(action->title, std::nullopt, action->run, this);
        contentLayout()->addWidget(m_button, 0, Qt::AlignLeft);
    }
}

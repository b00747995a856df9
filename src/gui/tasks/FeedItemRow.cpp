#include "gui/tasks/FeedItemRow.h"

#include "core/design/DS.h"
#include "core/design/DSFont.h"
#include "gui/design/AnywhereLabel.h"
#include "gui/design/DSText.h"
#include "gui/design/PrimaryButton.h"
#include "gui/design/Style.h"
#include "gui/tasks/ActionFeedbackLine.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

namespace {

// A long path or an error without a space wraps inside itself: the row never
// grows wider than its sheet.
QLabel* wrapping(const QFont& font, const QColor& colour, QWidget* parent)
{
    auto* label = new AnywhereLabel(parent);
    label->setSelectable();
    label->setFont(font);
    DSText::setColour(label, colour);
    return label;
}

} // namespace

FeedItemRow::FeedItemRow(const QString& prefix, const QString& id, QWidget* parent)
    : QWidget(parent)
{
    const QString rowId = prefix + QStringLiteral(".row.") + id;
    setObjectName(rowId);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);

    auto* col = new QVBoxLayout(this);
    col->setContentsMargins(10, 10, 10, 10);
    col->setSpacing(6);

    m_headline = wrapping(DSFont::semiBold(12.5), DS::ink(), this);
    m_headline->setObjectName(rowId + QStringLiteral(".text"));
    col->addWidget(m_headline);

    m_subtitle = wrapping(DSFont::medium(11), DS::muted(0.6), this);
    col->addWidget(m_subtitle);

    m_origin = wrapping(DSFont::medium(10), DS::muted(0.4), this);
    col->addWidget(m_origin);

    m_buttons = new QHBoxLayout;
    m_buttons->setSpacing(8);
    m_buttons->addStretch(1);
    col->addSpacing(2);
    col->addLayout(m_buttons);

    m_feedback = new ActionFeedbackLine(10.5, false, this);
    col->addWidget(m_feedback);
}

void FeedItemRow::setItem(const FeedApprovalItem& item, bool showOrigin, const QColor& subtitleColour)
{
    const QString headline = item.command.isEmpty() ? item.title : item.command;
    m_headline->setText(headline);
    m_headline->setAccessibleName(headline);
    // A screen reader announces the row by its headline, not its identifier.
    setAccessibleName(headline);
    setAccessibleDescription(item.subtitle);

    m_subtitle->setText(item.subtitle);
    DSText::setColour(m_subtitle, subtitleColour);
    m_subtitle->setVisible(!item.subtitle.isEmpty());

    const bool origin = showOrigin && !item.originDevice.isEmpty();
    m_origin->setText(origin ? QStringLiteral("来自设备 ") + item.originDevice : QString());
    m_origin->setVisible(origin);
}

void FeedItemRow::addButton(QAbstractButton* button)
{
    button->setParent(this);
    m_buttons->insertWidget(m_buttons->count() - 1, button, 0, Qt::AlignVCenter);
    m_buttonList.append(button);
}

void FeedItemRow::setBusy(bool busy)
{
    for (QAbstractButton* button : std::as_const(m_buttonList)) {
        if (auto* primary = qobject_cast<PrimaryButton*>(button))
            primary->setBusy(busy);
        else
            button->setEnabled(!busy);
    }
}

void FeedItemRow::setAction(const PermActionState& state, bool busy)
{
    m_feedback->setState(state);
    setBusy(busy);
}

void FeedItemRow::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    Style::paintPlate(p, QRectF(rect()), 8, DS::muted(0.05));
}

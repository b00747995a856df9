#include "gui/tasks/PermTierRow.h"

#include "core/design/DS.h"
#include "core/design/DSFont.h"
#include "gui/design/Chip.h"
#include "gui/design/DSText.h"
#include "gui/design/DangerButton.h"
#include "gui/design/Icon.h"
#include "gui/design/PrimaryButton.h"
#include "gui/design/ProseLabel.h"
#include "gui/design/SecondaryButton.h"
#include "gui/tasks/ActionFeedbackLine.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace {

constexpr int kIndent = 26;
constexpr int kWordWidth = 72;
constexpr int kFeedbackWidth = 340;
// The mark (or spinner) before the text and the gap after it.
constexpr int kMarkRoom = 24;

ProseLabel* prose(const QFont& font, const QColor& colour, bool markup, QWidget* parent)
{
    auto* label = new ProseLabel(QString(), parent);
    if (markup)
        label->setTextFormat(Qt::RichText);
    label->setFont(font);
    DSText::setColour(label, colour);
    return label;
}

// Shows a text with inline bold and code marks (escaped otherwise); hidden when empty.
void setMarkup(ProseLabel* label, const QString& text)
{
    DSText::setMarkup(label, text);
    label->setVisible(!text.isEmpty());
}

} // namespace

PermTierRow::PermTierRow(const QString& key, QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("perm.row.") + key);
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(6);

    auto* header = new QHBoxLayout;
    header->setSpacing(10);
    m_icon = new Icon(QStringLiteral("circle"), 12, DS::muted(0.45), this);
    header->addWidget(m_icon, 0, Qt::AlignTop);

    auto* column = new QVBoxLayout;
    column->setSpacing(3);
    auto* titleLine = new QHBoxLayout;
    titleLine->setSpacing(6);
    m_title = DSText::label(QString(), DSFont::semiBold(12.5), DS::ink(), this);
    titleLine->addWidget(m_title, 0, Qt::AlignVCenter);
    if (key == QLatin1String("danger")) {
        m_risk = new Chip(QStringLiteral("高风险"), DS::danger(), std::nullopt, std::nullopt, this);
        titleLine->addWidget(m_risk, 0, Qt::AlignVCenter);
    }
    titleLine->addStretch(1);
    column->addLayout(titleLine);
    m_detail = prose(DSFont::medium(11), DS::muted(0.5), true, this);
    column->addWidget(m_detail, 0, Qt::AlignLeft);
    m_unenforceable = prose(DSFont::medium(11), DS::amber(), false, this);
    m_unenforceable->setObjectName(QStringLiteral("perm.") + key + QStringLiteral(".unenforceable"));
    m_unenforceable->hide();
    column->addWidget(m_unenforceable, 0, Qt::AlignLeft);
    m_explain = prose(DSFont::medium(11), DS::muted(0.45), true, this);
    column->addWidget(m_explain, 0, Qt::AlignLeft);
    header->addLayout(column, 1);
    header->addSpacing(8);

    m_word = DSText::label(QString(), DSFont::semiBold(11.5), DS::muted(0.45), this);
    m_word->setFixedWidth(kWordWidth);
    m_word->setAlignment(Qt::AlignRight | Qt::AlignTop);
    header->addWidget(m_word, 0, Qt::AlignTop);
    stack->addLayout(header);

    auto* actions = new QHBoxLayout;
    actions->setContentsMargins(kIndent, 0, 0, 0);
    actions->setSpacing(8);
    m_autoNote = DSText::label(PermPresentation::autoNoteText(), DSFont::medium(11), DS::muted(0.5), this);
    m_autoNote->hide();
    actions->addWidget(m_autoNote, 0, Qt::AlignVCenter);
    m_buttonRow = new QHBoxLayout;
    m_buttonRow->setSpacing(8);
    actions->addLayout(m_buttonRow);
    actions->addStretch(1);
    m_feedback = new ActionFeedbackLine(11, true, this);
    m_feedback->setTrailing();
    actions->addWidget(m_feedback, 0, Qt::AlignRight | Qt::AlignVCenter);
    stack->addLayout(actions);
}

void PermTierRow::setContent(const Content& c)
{
    if (m_shown == c)
        return;
    m_shown = c;
    m_row = c.row;
    const QColor colour = PermPresentation::stateColor(c.row.state);
    m_icon->setSymbol(PermPresentation::stateIcon(c.row.state));
    m_icon->setTint(colour);
    m_title->setText(c.row.title);
    m_title->setAccessibleName(c.row.title);
    setMarkup(m_detail, c.row.detail);

    m_unenforceable->setText(c.unenforceable.value_or(QString()));
    m_unenforceable->setAccessibleName(c.unenforceable.value_or(QString()));
    m_unenforceable->setVisible(c.unenforceable.has_value());

    DSText::setColour(m_explain, colour);
    setMarkup(m_explain, PermPresentation::permExplain(c.row.state, c.row.key, c.autoFailed));

    const QString word = PermPresentation::stateWord(c.row.state);
    m_word->setText(word);
    m_word->setAccessibleName(word);
    DSText::setColour(m_word, colour);

    setButtons(c.buttons);
    for (FaceButton* b : std::as_const(m_buttonList)) {
        if (auto* primary = qobject_cast<PrimaryButton*>(b))
            primary->setBusy(c.busy);
        else
            b->setEnabled(!c.busy);
    }
    m_feedback->setState(c.feedback);
    // As wide as its text on one line, at most 340; a longer text wraps under itself.
    // (The line draws its mark as an icon, not as the text's leading "✅ " or "❌ ".)
    const bool marked
        = c.feedback.kind() == PermActionState::Kind::Ok || c.feedback.kind() == PermActionState::Kind::Failed;
    const QString shown = marked ? m_feedback->text().mid(2) : m_feedback->text();
    const int natural = QFontMetrics(DSFont::medium(11)).horizontalAdvance(shown) + kMarkRoom;
    m_feedback->setFixedWidth(qMin(kFeedbackWidth, natural));
}

void PermTierRow::setButtons(const PermPresentation::PermButtons& buttons)
{
    // The same buttons stay (a press in flight keeps its widget); only a new set replaces them.
    if (m_shownButtons == buttons)
        return;
    m_shownButtons = buttons;
    for (FaceButton* b : std::as_const(m_buttonList)) {
        b->hide();
        b->deleteLater();
    }
    m_buttonList.clear();
    m_autoNote->setVisible(buttons.autoNote);
    using S = PermPresentation::PermButton::Style;
    for (const PermPresentation::PermButton& button : buttons.buttons) {
        const auto action = button.action;
        auto press = [this, action] { emit actionRequested(m_row, action); };
        FaceButton* b = nullptr;
        switch (button.style) {
        case S::Primary:
            b = new PrimaryButton(button.title, false, false, std::nullopt, press, this);
            break;
        case S::Secondary:
            b = new SecondaryButton(button.title, std::nullopt, press, this);
            break;
        case S::Danger:
            b = new DangerButton(button.title, std::nullopt, press, this);
            break;
        }
        m_buttonRow->addWidget(b, 0, Qt::AlignVCenter);
        m_buttonList.append(b);
    }
}

FaceButton* PermTierRow::button(const QString& title) const
{
    for (FaceButton* b : m_buttonList) {
        if (b->text() == title)
            return b;
    }
    return nullptr;
}

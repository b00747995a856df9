#include "gui/design/OutcomeLine.h"

#include "core/design/DS.h"
#include "core/design/DSFont.h"
#include "gui/design/AnywhereLabel.h"
#include "gui/design/BusyIndicator.h"
#include "gui/design/DSText.h"
#include "gui/design/Icon.h"

#include <QHBoxLayout>
#include <QLabel>

OutcomeLine::OutcomeLine(qreal pointSize, QWidget* parent)
    : QWidget(parent)
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(5);
    // The small spinner at 0.7 of its size.
    m_spinner = new BusyIndicator(DS::muted(0.5), 10, this);
    row->addWidget(m_spinner, 0, Qt::AlignVCenter);
    m_mark = new Icon(QStringLiteral("checkmark.circle.fill"), pointSize, DS::mint(), this);
    row->addWidget(m_mark, 0, Qt::AlignTop);
    // A failure without a space (an address, a path) wraps inside itself.
    auto* label = new AnywhereLabel(this);
    label->setSelectable();
    m_label = label;
    m_label->setFont(DSFont::medium(pointSize));
    DSText::setColour(m_label, DS::muted(0.5));
    row->addWidget(m_label, 1);
    setOutcome(Kind::Idle, QString());
}

void OutcomeLine::setOutcome(Kind kind, const QString& text)
{
    m_kind = kind;
    QString shown = text;
    // The mark and the text in one colour; the text keeps the mark's character.
    const auto marked = [&](const QString& symbol, const QColor& colour, const QString& mark) {
        m_mark->setSymbol(symbol);
        m_mark->setTint(colour);
        DSText::setColour(m_label, colour);
        m_text = mark + shown;
    };
    switch (kind) {
    case Kind::Idle:
        shown.clear();
        m_text.clear();
        break;
    case Kind::Working:
        DSText::setColour(m_label, DS::muted(0.5));
        m_text = shown;
        break;
    case Kind::Ok:
        marked(QStringLiteral("checkmark.circle.fill"), DS::mint(), QStringLiteral("✅ "));
        break;
    case Kind::Failed:
        marked(QStringLiteral("xmark.octagon.fill"), DS::danger(), QStringLiteral("❌ "));
        break;
    case Kind::Unknown:
        marked(QStringLiteral("questionmark.circle"), DS::amber(), QString());
        break;
    }
    m_label->setText(shown);
    setAccessibleName(m_text);
    m_spinner->setVisible(kind == Kind::Working);
    m_mark->setVisible(kind == Kind::Ok || kind == Kind::Failed || kind == Kind::Unknown);
    setVisible(kind != Kind::Idle);
}

void OutcomeLine::setTrailing()
{
    m_label->setAlignment(Qt::AlignRight | Qt::AlignTop);
}

QString OutcomeLine::text() const
{
    return m_text;
}

#include "gui/shell/NoticeBanner.h"

#include "core/design/DS.h"
#include "core/design/DSFont.h"
#include "gui/design/AnywhereLabel.h"
#include "gui/design/DSText.h"
#include "gui/design/Icon.h"
#include "gui/design/SecondaryButton.h"
#include "gui/design/Style.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

NoticeBanner::NoticeBanner(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("notice.banner"));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(10, 10, 10, 10);
    row->setSpacing(8);

    m_icon = new Icon(QStringLiteral("info.circle"), 11.5, DS::muted(0.65), this);
    // A tool's output without a space (a path, a long token) wraps inside
    // itself: the notice never widens the page.
    auto* text = new AnywhereLabel(this);
    text->setSelectable();
    m_text = text;
    m_text->setFont(DSFont::semiBold(11.5));
    DSText::setColour(m_text, DS::muted(0.65));
    m_text->setObjectName(QStringLiteral("notice.text"));
    m_dismiss = new SecondaryButton(
        QStringLiteral("知道了"), [this] { emit dismissed(); }, this);

    // The icon's box is smaller than a line of text: centre it on the first line.
    auto* iconBox = new QVBoxLayout;
    iconBox->setContentsMargins(0, 2, 0, 0);
    iconBox->addWidget(m_icon);
    row->addLayout(iconBox);
    row->setAlignment(iconBox, Qt::AlignTop);
    row->addWidget(m_text, 1, Qt::AlignTop);
    row->addWidget(m_dismiss, 0, Qt::AlignTop);
}

QString NoticeBanner::text() const
{
    return m_text->text();
}

void NoticeBanner::setNotice(const QString& text, bool isError)
{
    m_isError = isError;
    const QColor fg = isError ? DS::amber() : DS::muted(0.65);
    m_icon->setSymbol(isError ? QStringLiteral("exclamationmark.triangle") : QStringLiteral("info.circle"));
    m_icon->setTint(fg);
    m_text->setText(text);
    DSText::setColour(m_text, fg);
    setAccessibleName(text);
    update();
}

void NoticeBanner::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    Style::paintPlate(p, QRectF(rect()), 12, m_isError ? DS::at(DS::amber(), 0.1) : DS::muted(0.5 * 0.1));
}

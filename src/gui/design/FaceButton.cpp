#include "gui/design/FaceButton.h"

#include "core/design/DS.h"
#include "gui/design/DSText.h"
#include "gui/design/Style.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>

namespace {
constexpr qreal kRadius = 9;
} // namespace

FaceButton::FaceButton(
    const QString& title, const std::optional<QString>& identifier, std::function<void()> action, QWidget* parent)
    : QAbstractButton(parent)
    , m_row(new QHBoxLayout(this))
    , m_label(new QLabel(this))
    , m_action(std::move(action))
{
    setObjectName(identifier.value_or(QString()));
    setText(title);
    setAccessibleName(title);
    setCursor(Qt::PointingHandCursor);
    m_label->setTextFormat(Qt::PlainText);
    m_label->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_row->setSpacing(6);
    m_row->addWidget(m_label);
    setShownText(title);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    connect(this, &QAbstractButton::clicked, this, [this] {
        if (m_action)
            m_action();
    });
}

void FaceButton::setFace(const QFont& font, const QColor& text, const QColor& fill, const QColor& stroke)
{
    m_label->setFont(font);
    m_text = text;
    m_fill = fill;
    m_stroke = stroke;
    applyTextColour();
    update();
}

void FaceButton::setPadding(int horizontal, int vertical)
{
    m_row->setContentsMargins(horizontal, vertical, horizontal, vertical);
}

void FaceButton::setShownText(const QString& text)
{
    m_label->setText(text);
}

void FaceButton::setFillColour(const QColor& fill)
{
    m_fill = fill;
    update();
}

void FaceButton::applyTextColour()
{
    // A button disabled from outside looks dimmed.
    DSText::setColour(m_label, looksDisabled() ? DS::at(m_text, 0.45) : m_text);
}

void FaceButton::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::EnabledChange)
        applyTextColour();
    QAbstractButton::changeEvent(event);
}

void FaceButton::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    if (looksDisabled())
        p.setOpacity(0.45);
    Style::paintPlate(p, QRectF(rect()), kRadius, m_fill, m_stroke);
    if (hasFocus())
        Style::paintFocusRing(p, QRectF(rect()), kRadius);
}

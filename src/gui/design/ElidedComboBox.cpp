#include "gui/design/ElidedComboBox.h"

#include <QStyleOptionComboBox>
#include <QStylePainter>

ElidedComboBox::ElidedComboBox(QWidget* parent)
    : QComboBox(parent)
{
    connect(this, &QComboBox::currentIndexChanged, this, [this] { setToolTip(currentText()); });
}

QRect ElidedComboBox::textRect(const QStyleOptionComboBox& option) const
{
    return style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this);
}

QString ElidedComboBox::shownText() const
{
    QStyleOptionComboBox option;
    initStyleOption(&option);
    return option.fontMetrics.elidedText(option.currentText, Qt::ElideRight, textRect(option).width());
}

void ElidedComboBox::paintEvent(QPaintEvent*)
{
    // QComboBox's own painting, with the text elided to the field.
    QStylePainter painter(this);
    painter.setPen(palette().color(QPalette::Text));
    QStyleOptionComboBox option;
    initStyleOption(&option);
    painter.drawComplexControl(QStyle::CC_ComboBox, option);
    option.currentText = option.fontMetrics.elidedText(option.currentText, Qt::ElideRight, textRect(option).width());
    painter.drawControl(QStyle::CE_ComboBoxLabel, option);
}

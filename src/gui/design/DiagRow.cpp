#include "gui/design/DiagRow.h"

#include "core/design/DS.h"
#include "gui/design/DSText.h"

#include <QHBoxLayout>
#include <QLabel>

DiagRow::DiagRow(const QString& key, const QString& value, QWidget* parent)
    : QWidget(parent)
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(8);
    m_key = new QLabel(this);
    m_key->setTextFormat(Qt::PlainText);
    m_key->setText(key);
    m_key->setWordWrap(true);
    m_key->setFixedWidth(kKeyWidth);
    m_key->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    DSText::setColour(m_key, DS::muted(0.4));
    m_value = new QLabel(this);
    m_value->setTextFormat(Qt::PlainText);
    m_value->setText(value);
    m_value->setWordWrap(true);
    m_value->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_value->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    DSText::setColour(m_value, DS::muted(0.6));
    row->addWidget(m_key, 0, Qt::AlignTop);
    row->addWidget(m_value, 1, Qt::AlignTop);
}

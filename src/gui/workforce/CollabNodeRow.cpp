#include "gui/workforce/CollabNodeRow.h"

#include "core/design/DS.h"
#include "core/design/DSFont.h"
#include "core/workforce/CollabLayout.h"
#include "gui/design/DSText.h"
#include "gui/design/ElidedLabel.h"
#include "gui/design/ElidedLine.h"
#include "gui/workforce/NodeGlyph.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

CollabNodeRow::CollabNodeRow(const CollabNode& node, QWidget* parent)
    : QWidget(parent)
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(8);
    auto* glyphBox = new QVBoxLayout;
    glyphBox->setContentsMargins(0, 2, 0, 0);
    m_glyph = new NodeGlyph(node.status, node.hasReading, this);
    glyphBox->addWidget(m_glyph);
    glyphBox->addStretch(1);
    row->addLayout(glyphBox);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    m_name = new ElidedLine(Qt::ElideRight, QString(), this);
    m_name->setFont(DSFont::semiBold(12.5));
    DSText::setColour(m_name, DS::ink());
    texts->addWidget(m_name);
    m_subtitle = new ElidedLabel(2, QString(), this);
    m_subtitle->setFont(DSFont::medium(10.5));
    texts->addWidget(m_subtitle);
    row->addLayout(texts, 1);
    setNode(node);
}

void CollabNodeRow::setNode(const CollabNode& node)
{
    if (m_node == node)
        return;
    setObjectName(CollabLayout::nodeIdentifier(node));
    setAccessibleName(node.name);
    m_glyph->setStatus(node.status, node.hasReading);
    m_name->setText(node.name);
    m_subtitle->setText(node.subtitle);
    DSText::setColour(m_subtitle, DS::at(TolvarineStatuses::tint(node.status), 0.85));
    m_subtitle->setVisible(!node.subtitle.isEmpty());
    m_node = node;
}

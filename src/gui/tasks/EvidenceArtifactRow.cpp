#include "gui/tasks/EvidenceArtifactRow.h"

#include "core/design/DS.h"
#include "core/design/DSFont.h"
#include "core/tasks/EvidenceText.h"
#include "gui/design/DSText.h"
#include "gui/design/ElidedLine.h"
#include "gui/design/Icon.h"
#include "gui/design/Style.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

EvidenceArtifactRow::EvidenceArtifactRow(const DeskFileChange& file, QWidget* parent)
    : QAbstractButton(parent)
{
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(8, 5, 8, 5);
    row->setSpacing(8);
    auto* doc = new Icon(QStringLiteral("doc.text"), 11, DS::mint(), this);
    doc->setAccessibleName(QString());
    row->addWidget(doc, 0, Qt::AlignVCenter);

    auto* names = new QVBoxLayout;
    names->setSpacing(1);
    m_name = new ElidedLine(Qt::ElideMiddle, QString(), this);
    m_name->setFont(DSFont::medium(12));
    DSText::setColour(m_name, DS::ink());
    m_name->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    names->addWidget(m_name);
    m_path = new ElidedLine(Qt::ElideMiddle, QString(), this);
    m_path->setFont(DSFont::monoMedium(9.5));
    DSText::setColour(m_path, DS::muted(0.4));
    m_path->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    names->addWidget(m_path);
    row->addLayout(names, 1);

    row->addSpacing(4);
    m_bytes = DSText::label(QString(), DSFont::monoMedium(9.5), DS::muted(0.35), this);
    row->addWidget(m_bytes, 0, Qt::AlignVCenter);
    auto* chevron = new Icon(QStringLiteral("chevron.right"), 9, DS::muted(0.3), this);
    row->addWidget(chevron, 0, Qt::AlignVCenter);

    for (QWidget* w : { static_cast<QWidget*>(doc), static_cast<QWidget*>(m_name), static_cast<QWidget*>(m_path),
             static_cast<QWidget*>(m_bytes), static_cast<QWidget*>(chevron) })
        w->setAttribute(Qt::WA_TransparentForMouseEvents);

    setFile(file);
}

void EvidenceArtifactRow::setFile(const DeskFileChange& file)
{
    if (m_filled && file == m_file)
        return;
    m_filled = true;
    m_file = file;
    setObjectName(QStringLiteral("evidence.open.") + file.path);
    const QString name = EvidenceText::lastPathComponent(file.path);
    setAccessibleName(name);
    m_name->setText(name);
    m_path->setText(file.path);
    m_path->setVisible(file.path != name);
    m_bytes->setText(file.size >= 1 ? EvidenceText::byteLabel(file.size) : QString());
    m_bytes->setVisible(file.size >= 1);
}

QSize EvidenceArtifactRow::sizeHint() const
{
    return layout()->sizeHint();
}

QSize EvidenceArtifactRow::minimumSizeHint() const
{
    return layout()->minimumSize();
}

void EvidenceArtifactRow::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    Style::paintPlate(p, QRectF(rect()), 6, DS::muted(isDown() ? 0.1 : 0.05));
    if (hasFocus())
        Style::paintFocusRing(p, QRectF(rect()), 6);
}

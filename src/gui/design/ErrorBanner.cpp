#include "gui/design/ErrorBanner.h"

#include "core/design/DS.h"
#include "core/design/DSFont.h"
#include "gui/design/AnywhereLabel.h"
#include "gui/design/DSText.h"
#include "gui/design/Disclosure.h"
#include "gui/design/Icon.h"
#include "gui/design/Style.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

ErrorBanner::ErrorBanner(const QString& text, const std::optional<QString>& evidence,
    const std::optional<QString>& identifier, QWidget* parent)
    : QWidget(parent)
    , m_stack(new QVBoxLayout(this))
{
    m_stack->setContentsMargins(13, 10, 13, 10);
    m_stack->setSpacing(8);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);

    auto* first = new QHBoxLayout;
    first->setSpacing(9);
    auto* icon = new Icon(QStringLiteral("exclamationmark.triangle.fill"), 11, DS::amber(), this);
    // A failure without a space (a path, an address) wraps inside itself: the
    // banner is never wider than what holds it.
    m_text = new AnywhereLabel(this);
    m_text->setFont(DSFont::semiBold(11.5));
    DSText::setColour(m_text, DS::amber());
    m_text->setObjectName(identifier.value_or(QString()));
    // The triangle sits on the sentence's first line.
    const int lineOffset = qMax(0, (m_text->fontMetrics().height() - icon->sizeHint().height()) / 2);
    auto* iconColumn = new QVBoxLayout;
    iconColumn->setContentsMargins(0, lineOffset, 0, 0);
    iconColumn->addWidget(icon);
    iconColumn->addStretch(1);
    first->addLayout(iconColumn);
    first->addWidget(m_text, 1);
    m_stack->addLayout(first);

    setContent(text, evidence);
}

void ErrorBanner::setContent(const QString& text, const std::optional<QString>& evidence)
{
    m_text->setText(text);
    m_text->setAccessibleName(text);

    const bool hasEvidence = evidence && !evidence->isEmpty();
    if (!hasEvidence) {
        if (m_fold) {
            m_showEvidence = m_fold->isExpanded();
            delete m_fold;
            m_fold = nullptr;
            m_evidence = nullptr;
        }
        return;
    }
    if (!m_fold) {
        auto* evidenceText = new AnywhereLabel;
        evidenceText->setSelectable();
        m_evidence = evidenceText;
        m_evidence->setFont(DSFont::monoMedium(10.5));
        DSText::setColour(m_evidence, DS::muted(0.55));
        m_fold = new Disclosure(QStringLiteral("诊断"), m_evidence, this);
        m_fold->setHeaderFont(DSFont::semiBold(11));
        m_fold->setTint(DS::muted(0.5));
        m_fold->setExpanded(m_showEvidence);
        connect(m_fold, &Disclosure::expandedChanged, this, [this](bool open) { m_showEvidence = open; });
        m_stack->addWidget(m_fold);
    }
    m_evidence->setText(*evidence);
}

bool ErrorBanner::showsEvidence() const
{
    return m_fold && m_fold->isExpanded();
}

void ErrorBanner::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    Style::paintPlate(p, QRectF(rect()), 12, DS::at(DS::amber(), 0.12), DS::at(DS::amber(), 0.35));
}

#include "gui/tasks/RuntimeStateCard.h"

#include "core/design/DS.h"
#include "core/design/DSFont.h"
#include "core/tasks/RuntimeStatePresentation.h"
#include "gui/design/DSText.h"
#include "gui/design/Disclosure.h"
#include "gui/design/Icon.h"
#include "gui/design/ProseLabel.h"
#include "gui/tasks/ProgressTail.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

using namespace RuntimeStatePresentation;

RuntimeStateCard::RuntimeStateCard(QWidget* parent)
    : Card(DS::muted(0.45), false, parent)
{
    setObjectName(QStringLiteral("runtimestate.card"));
    QVBoxLayout* stack = contentLayout();
    stack->setSpacing(8);

    auto* header = new QHBoxLayout;
    header->setSpacing(8);
    m_icon = new Icon(QStringLiteral("questionmark.circle"), 12, DS::muted(0.45), this);
    header->addWidget(m_icon, 0, Qt::AlignVCenter);
    m_title = DSText::label(QString(), DSFont::bold(13.5), DS::ink(), this);
    m_title->setObjectName(QStringLiteral("runtimestate.title"));
    header->addWidget(m_title, 0, Qt::AlignVCenter);
    header->addStretch(1);
    header->addSpacing(6);
    m_time = DSText::label(QString(), DSFont::monoMedium(10), DS::muted(0.45), this);
    m_time->setObjectName(QStringLiteral("runtimestate.time"));
    header->addWidget(m_time, 0, Qt::AlignVCenter);
    stack->addLayout(header);

    m_headline = new ProseLabel(QString(), this);
    m_headline->setObjectName(QStringLiteral("runtimestate.headline"));
    m_headline->setFont(DSFont::medium(11.5));
    DSText::setColour(m_headline, DS::muted(0.6));
    stack->addWidget(m_headline, 0, Qt::AlignLeft);

    m_command = new ProseLabel(QString(), this);
    m_command->setObjectName(QStringLiteral("runtimestate.command"));
    m_command->setFont(DSFont::medium(12.5));
    DSText::setColour(m_command, DS::ink());
    m_command->setTextInteractionFlags(Qt::TextSelectableByMouse);
    stack->addWidget(m_command, 0, Qt::AlignLeft);

    m_evidence = DSText::label(QString(), DSFont::monoMedium(10.5), DS::muted(0.6));
    m_evidence->setWordWrap(true);
    m_evidence->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_evidence->setContentsMargins(0, 4, 0, 0);
    m_evidence->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    m_fold = new Disclosure(QStringLiteral("执行体是怎么说的"), m_evidence, this);
    m_fold->setObjectName(QStringLiteral("runtimestate.evidence"));
    m_fold->setHeaderFont(DSFont::semiBold(11));
    m_fold->setTint(DS::muted(0.5));
    stack->addWidget(m_fold);

    m_tail = new ProgressTail(this);
    stack->addWidget(m_tail);
}

void RuntimeStateCard::setContent(const Content& c)
{
    const bool same = m_shown && m_shown->state == c.state && m_shown->progress == c.progress
        && m_shown->progressError == c.progressError && m_shown->progressTruncated == c.progressTruncated;
    m_shown = c;
    if (same) {
        setTime(c.now);
        return;
    }
    // One state for every line of the card.
    const RuntimeState& s = c.state;
    const QColor colour = stateColor(s);
    setTint(colour);
    m_icon->setSymbol(stateIcon(s));
    m_icon->setTint(colour);

    const QString title = stateTitle(s);
    m_title->setText(title);
    m_title->setAccessibleName(title);
    setTime(c.now);

    DSText::setMarkup(m_headline, stateHeadline(s));

    const std::optional<CommandBrief> command = stateCommand(s);
    const QString quoted = command ? QStringLiteral("「") + command->text + QStringLiteral("」") : QString();
    m_command->setText(quoted);
    m_command->setAccessibleName(quoted);
    m_command->setVisible(command.has_value());

    const std::optional<QString> evidence = stateEvidence(s);
    m_evidence->setText(evidence.value_or(QString()));
    m_fold->setVisible(evidence.has_value());

    const bool running = s.kind == RuntimeState::Kind::Running;
    if (running)
        m_tail->setProgress(c.progress, c.progressError, c.progressTruncated);
    m_tail->setVisible(running);
}

void RuntimeStateCard::setTime(const QDateTime& now)
{
    const std::optional<QString> time = stateTime(m_shown->state, now);
    m_time->setText(time.value_or(QString()));
    m_time->setVisible(time.has_value());
}

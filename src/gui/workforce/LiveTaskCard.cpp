#include "gui/workforce/LiveTaskCard.h"

#include "core/design/DS.h"
#include "core/design/DSFont.h"
#include "core/workforce/LiveBoard.h"
#include "gui/design/DSText.h"
#include "gui/design/ElidedLabel.h"
#include "gui/design/ElidedLine.h"
#include "gui/design/StatusBadge.h"
#include "gui/tasks/TaskEvidenceView.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

LiveTaskCard::LiveTaskCard(const CommandBrief& command, TaskEvidenceModel* evidence, QWidget* parent)
    : Card(DS::cyan(), false, parent)
{
    setObjectName(QStringLiteral("liveboard.card.") + command.id);
    QVBoxLayout* col = contentLayout();
    col->setSpacing(6);

    auto* top = new QHBoxLayout;
    top->setSpacing(7);
    top->addWidget(new StatusBadge(QStringLiteral("正在执行"), DS::cyan(), QStringLiteral("Running"), true,
                       QStringLiteral("liveboard.state.") + command.id, this),
        0, Qt::AlignVCenter);
    m_who = new ElidedLine(Qt::ElideRight, QString(), this);
    m_who->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    top->addWidget(m_who, 0, Qt::AlignVCenter);
    top->addStretch(1);
    top->addSpacing(4);
    m_elapsed = DSText::label(QString(), DSFont::monoMedium(10), DS::muted(0.45), this);
    top->addWidget(m_elapsed, 0, Qt::AlignVCenter);
    col->addLayout(top);

    m_text = new ElidedLabel(3, QString(), this);
    m_text->setFont(DSFont::medium(12));
    DSText::setColour(m_text, DS::ink());
    col->addWidget(m_text);

    m_evidence = new TaskEvidenceView(evidence, this);
    col->addWidget(m_evidence);
}

void LiveTaskCard::setContent(const CommandBrief& command, const QList<TeammateBrief>& team, const QDateTime& now)
{
    const LiveBoard::Runner runner = LiveBoard::runner(team, command);
    if (m_named != runner.named) {
        m_named = runner.named;
        m_who->setFont(runner.named ? DSFont::semiBold(12.5) : DSFont::medium(11.5));
        DSText::setColour(m_who, runner.named ? DS::ink() : DS::muted(0.5));
    }
    m_who->setText(runner.text);

    const std::optional<QString> elapsed = LiveBoard::elapsed(command, now);
    if (m_elapsed->text() != elapsed.value_or(QString()))
        m_elapsed->setText(elapsed.value_or(QString()));
    m_elapsed->setVisible(elapsed.has_value());

    if (m_text->text() != command.text)
        m_text->setText(command.text);
    m_evidence->setCommand(command);
}

#include "gui/tasks/TasksCard.h"

#include "core/design/DS.h"
#include "core/design/DSFont.h"
#include "core/design/TolvarineStatus.h"
#include "core/tasks/TaskCards.h"
#include "gui/design/AdaptiveColumns.h"
#include "gui/design/Card.h"
#include "gui/design/Chip.h"
#include "gui/design/DSText.h"
#include "gui/design/ElidedLabel.h"
#include "gui/design/StatusBadge.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace {

// One command: its status (a badge, or a muted chip for a word the interface
// does not know), its issue time and its text on at most two lines.
class TaskRow : public Card {
public:
    explicit TaskRow(QWidget* parent)
        : Card(std::nullopt, false, parent)
    {
        QVBoxLayout* stack = contentLayout();
        stack->setSpacing(7);
        auto* top = new QHBoxLayout;
        top->setSpacing(6);
        m_badge = new StatusBadge(QString(), DS::muted(0.45), QString(), true, std::nullopt, this);
        top->addWidget(m_badge, 0, Qt::AlignVCenter);
        m_chip = new Chip(QString(), DS::muted(0.45), QStringLiteral("还没结束"), std::nullopt, this);
        top->addWidget(m_chip, 0, Qt::AlignVCenter);
        top->addStretch(1);
        top->addSpacing(6);
        m_time = DSText::label(QString(), DSFont::monoMedium(10), DS::muted(0.45), this);
        top->addWidget(m_time, 0, Qt::AlignVCenter);
        stack->addLayout(top);
        m_text = new ElidedLabel(2, QString(), this);
        m_text->setFont(DSFont::semiBold(12.5));
        DSText::setColour(m_text, DS::ink());
        stack->addWidget(m_text);
    }

    void setCommand(const CommandBrief& command)
    {
        setObjectName(QStringLiteral("tasks.row.") + command.id);
        const QString id = QStringLiteral("taskstate.") + command.id + QLatin1Char('.') + command.status;
        const std::optional<TolvarineStatus> status = command.tolvarineStatus();
        if (status) {
            m_badge->setLook({ TolvarineStatuses::zh(*status), TolvarineStatuses::tint(*status),
                TolvarineStatuses::rawValue(*status), true });
        }
        // The identifier sits on whichever of the two is shown.
        m_badge->word()->setObjectName(status ? id : QString());
        m_chip->setObjectName(status ? QString() : id);
        m_badge->setVisible(status.has_value());
        m_chip->setVisible(!status);
        setTint(status ? std::optional<QColor>(TolvarineStatuses::tint(*status)) : std::nullopt);

        const QString time = command.issuedAtHHmm();
        m_time->setText(time);
        m_time->setVisible(!time.isEmpty());
        m_text->setText(command.text);
        setAccessibleName(command.text);
    }

private:
    StatusBadge* m_badge;
    Chip* m_chip;
    QLabel* m_time;
    ElidedLabel* m_text;
};

} // namespace

TasksCard::TasksCard(QWidget* parent)
    : RoundedPlate(parent)
{
    setObjectName(QStringLiteral("tasks.card"));
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(10, 10, 10, 10);
    stack->setSpacing(8);
    m_header = DSText::label(QString(), DSFont::bold(12), DS::muted(0.55), this);
    stack->addWidget(m_header);
    m_grid = new AdaptiveColumns(300, 10, this);
    stack->addWidget(m_grid);
}

void TasksCard::setContent(const QList<CommandBrief>& commands, bool commandsFailed)
{
    if (m_shown && m_shown->first == commands && m_shown->second == commandsFailed)
        return;
    m_shown = { commands, commandsFailed };
    const bool shown = !commandsFailed && !commands.isEmpty();
    setVisible(shown);
    m_header->setText(TaskCards::tasksHeader(shown ? int(commands.size()) : 0));
    m_grid->reconcile(
        shown ? TaskCards::shownTasks(commands) : QList<CommandBrief> {}, [](const CommandBrief& c) { return c.id; },
        [](const CommandBrief&) -> QWidget* { return new TaskRow(nullptr); },
        [](QWidget* row, const CommandBrief& c) { static_cast<TaskRow*>(row)->setCommand(c); });
}

#include "gui/agents/AdvancedConnectionRow.h"

#include "core/design/DS.h"
#include "core/design/DSFont.h"
#include "core/platform/UuidText.h"
#include "gui/design/Chip.h"
#include "gui/design/ClearLayout.h"
#include "gui/design/DSText.h"
#include "gui/design/DangerButton.h"
#include "gui/design/ElidedLabel.h"
#include "gui/design/PrimaryButton.h"
#include "gui/design/SecondaryButton.h"
#include "gui/design/StatusBadge.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace {

QString kindText(AdvancedConnectionKind kind)
{
    switch (kind) {
    case AdvancedConnectionKind::acp:
        return QStringLiteral("ACP");
    case AdvancedConnectionKind::mcp:
        return QStringLiteral("MCP");
    case AdvancedConnectionKind::generic:
        break;
    }
    return QStringLiteral("自定义");
}

} // namespace

AdvancedConnectionRow::AdvancedConnectionRow(const QUuid& id, Actions actions, QWidget* parent)
    : QWidget(parent)
    , m_prefix(QStringLiteral("advanced.") + UuidText::plain(id) + QLatin1Char('.'))
    , m_actions(std::move(actions))
{
    setObjectName(QStringLiteral("advanced.row.") + UuidText::plain(id));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(10);

    auto* text = new QVBoxLayout;
    text->setSpacing(2);
    auto* top = new QHBoxLayout;
    top->setSpacing(6);
    m_name = DSText::label(QString(), DSFont::semiBold(12.5), DS::ink(), this);
    m_kind = new Chip(QString(), DS::muted(0.5), std::nullopt, std::nullopt, this);
    m_running = new StatusBadge(QStringLiteral("正在执行"), DS::cyan(), QStringLiteral("Running"), true,
        m_prefix + QStringLiteral("running"), this);
    top->addWidget(m_name, 0, Qt::AlignVCenter);
    top->addWidget(m_kind, 0, Qt::AlignVCenter);
    top->addWidget(m_running, 0, Qt::AlignVCenter);
    top->addStretch(1);
    text->addLayout(top);
    m_command = new ElidedLabel(1, QString(), this);
    m_command->setFont(DSFont::monoMedium(10.5));
    DSText::setColour(m_command, DS::muted(0.55));
    text->addWidget(m_command);
    // Said before the press: one custom worker runs per workspace.
    m_replaceNote = DSText::label(QString(), DSFont::medium(11), DS::amber(), this);
    m_replaceNote->setObjectName(m_prefix + QStringLiteral("replaces"));
    m_replaceNote->setWordWrap(true);
    m_replaceNote->hide();
    text->addWidget(m_replaceNote);
    row->addLayout(text, 1);

    m_buttons = new QHBoxLayout;
    m_buttons->setSpacing(8);
    row->addLayout(m_buttons);
}

QString AdvancedConnectionRow::replaceText(const QString& running)
{
    return QStringLiteral("启动它会先停掉正在跑的「") + running
        + QStringLiteral("」：一个工作区同一时间只跑一个自定义 Agent。");
}

void AdvancedConnectionRow::setState(
    const AdvancedConnection& connection, bool running, bool canLaunch, const std::optional<QString>& wouldStop)
{
    m_name->setText(connection.name);
    m_kind->setText(kindText(connection.kind));
    m_running->setVisible(running);
    m_command->setText(connection.command);
    const bool replaces = !running && canLaunch && wouldStop.has_value();
    if (replaces)
        m_replaceNote->setText(replaceText(*wouldStop));
    m_replaceNote->setVisible(replaces);

    const auto wanted = std::make_tuple(connection.kind, running, canLaunch);
    if (m_built != wanted) {
        m_built = wanted;
        buildButtons(connection.kind, running, canLaunch);
    }
    if (m_start)
        m_start->setAccessibleDescription(replaces ? replaceText(*wouldStop) : QString());
}

void AdvancedConnectionRow::buildButtons(AdvancedConnectionKind kind, bool running, bool canLaunch)
{
    clearLayout(m_buttons);
    if (kind == AdvancedConnectionKind::generic) {
        if (running) {
            m_buttons->addWidget(new SecondaryButton(
                QStringLiteral("停止"), m_prefix + QStringLiteral("stop"), [this] { m_actions.stop(); }, this));
        } else {
            auto* start = new PrimaryButton(
                QStringLiteral("启动"), false, false, m_prefix + QStringLiteral("start"), [this] { m_actions.start(); },
                this);
            start->setEnabled(canLaunch);
            if (!canLaunch)
                start->setToolTip(QStringLiteral("先配对一个工作区，它在那个工作区的目录里跑"));
            m_buttons->addWidget(start);
            m_start = start;
        }
    }
    m_buttons->addWidget(new DangerButton(
        QStringLiteral("删除"), m_prefix + QStringLiteral("remove"), [this] { m_actions.remove(); }, this));
}

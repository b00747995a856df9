#include "gui/agents/AdvancedAccessSection.h"

#include "core/agents/AdvancedAccess.h"
#include "core/design/DS.h"
#include "core/design/DSFont.h"
#include "core/platform/UuidText.h"
#include "gui/agents/AddConnectionSheet.h"
#include "gui/design/DSText.h"
#include "gui/design/SecondaryButton.h"
#include "gui/platform/Prompts.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

AdvancedAccessSection::AdvancedAccessSection(AdvancedAccess* access, QWidget* parent)
    : Card(std::nullopt, false, parent)
    , m_access(access)
{
    setObjectName(QStringLiteral("advanced.section"));
    QVBoxLayout* col = contentLayout();
    col->setSpacing(8);

    auto* header = new QHBoxLayout;
    header->setSpacing(8);
    header->addWidget(
        DSText::label(QStringLiteral("高级接入"), DSFont::bold(13.5), DS::ink(), this), 0, Qt::AlignVCenter);
    header->addStretch(1);
    header->addWidget(new SecondaryButton(
        QStringLiteral("添加自定义 Agent"), QStringLiteral("advanced.add"), [this] { openAdd(); }, this));
    col->addLayout(header);
    QLabel* subtitle = DSText::label(QStringLiteral("你自己接进来的 Agent：ACP、MCP，或者任何一条命令行。"
                                                    "自定义的在当前工作区里启动，输出进下面的日志。"),
        DSFont::medium(11.5), DS::muted(0.55), this);
    subtitle->setWordWrap(true);
    col->addWidget(subtitle);

    m_empty = DSText::label(QStringLiteral("还没有自己接的 Agent。"), DSFont::medium(11.5), DS::muted(0.4), this);
    m_empty->setObjectName(QStringLiteral("advanced.empty"));
    col->addWidget(m_empty);
    m_list = new QVBoxLayout;
    m_list->setSpacing(10);
    col->addLayout(m_list);

    connect(m_access, &AdvancedAccess::changed, this, &AdvancedAccessSection::refresh);
    refresh();
}

void AdvancedAccessSection::refresh()
{
    const QList<AdvancedConnection> connections = m_access->connections();
    const bool canLaunch = m_access->canLaunch();
    m_empty->setVisible(connections.isEmpty());
    AdvancedAccess* access = m_access;
    const QList<AdvancedConnectionRow*> rows = m_rows.reconcile(
        connections, [](const AdvancedConnection& c) { return UuidText::plain(c.id); },
        [this, access](const AdvancedConnection& c) {
            const QUuid id = c.id;
            AdvancedConnectionRow::Actions actions {
                [access, id] { access->launchAdvanced(id); },
                [access, id] { access->stopAdvanced(id); },
                [this, id] { askRemove(id); },
            };
            return new AdvancedConnectionRow(id, std::move(actions), this);
        },
        [&](AdvancedConnectionRow* row, const AdvancedConnection& c) {
            row->setState(c, m_access->isAdvancedRunning(c.id), canLaunch, m_access->wouldStop(c.id));
        });
    KeyedLayout::place(m_list, rows);
}

AddConnectionSheet* AdvancedAccessSection::addSheet() const
{
    return m_sheet;
}

void AdvancedAccessSection::openAdd()
{
    if (m_sheet) {
        m_sheet->raise();
        return;
    }
    m_sheet = new AddConnectionSheet(m_access, window());
    connect(m_sheet, &QDialog::finished, m_sheet, &QObject::deleteLater);
    m_sheet->open();
}

QCoro::Task<> AdvancedAccessSection::askRemove(QUuid id)
{
    QString name;
    for (const AdvancedConnection& c : m_access->connections()) {
        if (c.id == id)
            name = c.name;
    }
    QPointer<AdvancedAccessSection> self(this);
    Prompts::Alert alert;
    alert.message = QStringLiteral("删除「") + name + QStringLiteral("」？");
    alert.informative = QStringLiteral("只删这条连接；它正在跑的话会先停下。程序本身不动。");
    alert.buttons = { QStringLiteral("删除"), QStringLiteral("取消") };
    alert.style = Prompts::Style::Warning;
    auto ask = Prompts::confirm(this, alert);
    const bool confirmed = co_await std::move(ask);
    // The section goes before the model: a section still there has its model.
    if (!self || !confirmed)
        co_return;
    auto remove = self->m_access->remove(id);
    const QString problem = co_await std::move(remove);
    if (!self || problem.isEmpty())
        co_return;
    Prompts::Alert failed;
    failed.message = problem;
    failed.buttons = { QStringLiteral("好") };
    auto tell = Prompts::shared().alert(self, failed);
    co_await std::move(tell);
}

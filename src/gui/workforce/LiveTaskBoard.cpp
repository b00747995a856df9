#include "gui/workforce/LiveTaskBoard.h"

#include "core/design/DS.h"
#include "core/design/DSFont.h"
#include "core/gateway/Status.h"
#include "core/platform/PendingCall.h"
#include "core/workforce/LiveBoard.h"
#include "gui/design/DSText.h"
#include "gui/workforce/LiveTaskCard.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

LiveTaskBoard::LiveTaskBoard(Status* status, QWidget* parent)
    : QWidget(parent)
    , m_status(status)
    , m_pending(new PendingCall(this, [this] { refresh(); }))
{
    setObjectName(QStringLiteral("liveboard"));
    auto* col = new QVBoxLayout(this);
    col->setContentsMargins(0, 0, 0, 0);
    col->setSpacing(10);

    auto* header = new QHBoxLayout;
    header->setSpacing(8);
    m_count = DSText::label(QString(), DSFont::bold(12), DS::muted(0.55), this);
    header->addWidget(m_count, 0, Qt::AlignVCenter);
    header->addStretch(1);
    col->addLayout(header);

    m_empty = DSText::label(QStringLiteral("此刻没有任务在跑。"), DSFont::medium(11.5), DS::muted(0.45), this);
    m_empty->setObjectName(QStringLiteral("liveboard.empty"));
    col->addWidget(m_empty);

    m_list = new QVBoxLayout;
    m_list->setSpacing(10);
    col->addLayout(m_list);

    // The status model publishes group by group during a reload: one redraw for them all.
    if (status)
        connect(status, &Status::changed, this, &LiveTaskBoard::scheduleRefresh);
    refresh();
}

LiveTaskCard* LiveTaskBoard::card(const QString& commandId) const
{
    return m_cards.find(commandId);
}

QList<LiveTaskCard*> LiveTaskBoard::cards() const
{
    return m_cards.widgets();
}

void LiveTaskBoard::scheduleRefresh()
{
    m_pending->request();
}

void LiveTaskBoard::refresh()
{
    m_pending->cancel();
    const std::optional<CLIConfig> cfg = m_status ? m_status->config() : std::nullopt;
    if (cfg != m_cfg) {
        m_cfg = cfg;
        // Evidence fetched with another configuration is not this one's.
        for (LiveTaskCard* card : m_cards.widgets()) {
            card->hide();
            card->deleteLater();
        }
        m_cards = {};
    }
    const QList<CommandBrief> running = m_status ? LiveBoard::running(m_status->commands()) : QList<CommandBrief>();
    const QList<TeammateBrief> team = m_status ? m_status->team() : QList<TeammateBrief>();
    const QDateTime now = QDateTime::currentDateTimeUtc();

    const QString count = LiveBoard::countText(running.size());
    if (m_count->text() != count) {
        m_count->setText(count);
        m_count->setObjectName(QStringLiteral("liveboard.count.") + QString::number(running.size()));
    }
    m_empty->setVisible(running.isEmpty());

    const QList<LiveTaskCard*> cards = m_cards.reconcile(
        running, [](const CommandBrief& c) { return c.id; },
        [this](const CommandBrief& c) { return new LiveTaskCard(c, m_cfg, m_status, this); },
        [&](LiveTaskCard* card, const CommandBrief& c) { card->setContent(c, team, now); });
    KeyedLayout::place(m_list, cards);
}

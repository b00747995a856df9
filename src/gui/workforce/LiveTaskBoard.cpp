#include "gui/workforce/LiveTaskBoard.h"

#include "core/design/DS.h"
#include "core/design/DSFont.h"
#include "core/gateway/Status.h"
#include "core/platform/PendingCall.h"
#include "core/tasks/TaskEvidenceModel.h"
#include "core/workforce/LiveBoard.h"
#include "gui/design/AimGuard.h"
#include "gui/design/DSText.h"
#include "gui/design/LazyRows.h"
#include "gui/tasks/TaskEvidenceView.h"
#include "gui/workforce/LiveTaskCard.h"

#include <QAbstractButton>
#include <QElapsedTimer>
#include <QHBoxLayout>
#include <QLabel>
#include <QSet>
#include <QShowEvent>
#include <QTimer>
#include <QVBoxLayout>

LiveTaskBoard::LiveTaskBoard(Status* status, QWidget* parent)
    : QWidget(parent)
    , m_status(status)
    , m_pending(new PendingCall(this, [this] { refresh(); }))
    , m_makeSoon(new QTimer(this))
{
    m_makeSoon->setSingleShot(true);
    m_makeSoon->setInterval(0);
    connect(m_makeSoon, &QTimer::timeout, this, &LiveTaskBoard::makeSome);
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

    // A few hundred running commands: only the cards in view of the page are made and laid out.
    // A command that ends slides the cards after it up, one that comes pushes
    // them down: a press on a card's control that cannot have been aimed at
    // it is held.
    m_aim = new AimGuard(this);
    m_rows = new LazyRows(
        nullptr, 10,
        [this](const QString& id) -> QWidget* {
            auto* card = new LiveTaskCard(m_running.value(id), made(id), m_rows);
            watchControls(card, id);
            return card;
        },
        [this](QWidget* card, const QString& id) {
            static_cast<LiveTaskCard*>(card)->setContent(m_running.value(id), m_team, m_now);
            watchControls(card, id);
        },
        this);
    m_rows->setStops([this](const QString& id) { return m_stops.value(id); });
    // A card whose evidence has a sheet open or a fold moved by the user stays made out of view.
    m_rows->setKeep([this](const QString& id) {
        const LiveTaskCard* made = card(id);
        return made && made->evidence()->holdsOwnState();
    });
    col->addWidget(m_rows);

    // The status model publishes group by group during a reload: one redraw for them all.
    if (status)
        connect(status, &Status::changed, this, &LiveTaskBoard::scheduleRefresh);
    refresh();
}

LiveTaskCard* LiveTaskBoard::card(const QString& commandId) const
{
    return static_cast<LiveTaskCard*>(m_rows->row(commandId));
}

QList<LiveTaskCard*> LiveTaskBoard::cards() const
{
    QList<LiveTaskCard*> out;
    for (QWidget* card : m_rows->madeRows())
        out.append(static_cast<LiveTaskCard*>(card));
    return out;
}

TaskEvidenceModel* LiveTaskBoard::evidence(const QString& commandId) const
{
    return m_evidence.value(commandId);
}

TaskEvidenceModel* LiveTaskBoard::made(const QString& commandId)
{
    const auto it = m_evidence.find(commandId);
    if (it == m_evidence.end())
        return nullptr;
    if (*it)
        return *it;
    auto* model = new TaskEvidenceModel(m_running.value(commandId), m_cfg, m_status, this);
    *it = model;
    // A card not made yet that comes to hold a control is made for the keyboard.
    connect(model, &TaskEvidenceModel::changed, this, [this, id = commandId, model] {
        const bool stops = TaskEvidenceView::hasKeyboardStops(*model);
        if (m_stops.value(id) == stops)
            return;
        m_stops.insert(id, stops);
        if (!m_rows->row(id))
            m_rows->refill();
    });
    model->setActive(m_active);
    return model;
}

void LiveTaskBoard::makeSome()
{
    // A thousand running commands arrive at once: their evidence is made and
    // its fetches queued a few milliseconds a turn, in the board's order.
    QElapsedTimer spent;
    spent.start();
    for (; m_nextToMake < m_order.size(); ++m_nextToMake) {
        if (spent.elapsed() >= kMakeBudgetMs) {
            m_makeSoon->start();
            return;
        }
        made(m_order.at(m_nextToMake));
    }
}

void LiveTaskBoard::scheduleRefresh()
{
    m_pending->request();
}

void LiveTaskBoard::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous())
        setActive(true);
}

void LiveTaskBoard::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    if (!event->spontaneous())
        setActive(false);
}

void LiveTaskBoard::setActive(bool active)
{
    if (active == m_active)
        return;
    m_active = active;
    for (TaskEvidenceModel* model : std::as_const(m_evidence)) {
        if (model)
            model->setActive(active);
    }
}

void LiveTaskBoard::watchControls(QWidget* card, const QString& commandId)
{
    // A control stands for its command and what it does there; the evidence
    // makes some (its file rows) after the card.
    const QList<QAbstractButton*> controls = card->findChildren<QAbstractButton*>();
    for (qsizetype i = 0; i < controls.size(); ++i) {
        QAbstractButton* control = controls.at(i);
        // A control without a name stands for what it says as well as its place.
        const QString what = control->objectName().isEmpty() ? QString::fromLatin1(control->metaObject()->className())
                + QString::number(i) + QLatin1Char('/') + control->accessibleName() + QLatin1Char('/') + control->text()
                                                             : control->objectName();
        m_aim->watch(control, commandId + QLatin1Char('/') + what);
    }
}

void LiveTaskBoard::refresh()
{
    m_pending->cancel();
    for (QWidget* card : m_rows->madeRows())
        watchControls(card, m_rows->keyOf(card));
    m_aim->aboutToChange();
    const std::optional<CLIConfig> cfg = m_status ? m_status->config() : std::nullopt;
    if (cfg != m_cfg) {
        m_cfg = cfg;
        // Evidence fetched with another configuration is not this one's.
        m_rows->setKeys({});
        for (TaskEvidenceModel* model : std::as_const(m_evidence)) {
            if (model)
                model->deleteLater();
        }
        m_evidence.clear();
        m_stops.clear();
        m_lastRead.clear();
    }
    // A command list that could not be read says nothing of what runs: the
    // board keeps the last one read, and its evidence, until a read succeeds.
    if (m_status && !m_status->commandsError())
        m_lastRead = LiveBoard::running(m_status->commands());
    else if (!m_status)
        m_lastRead.clear();
    const QList<CommandBrief> running = m_lastRead;
    QList<TeammateBrief> team = m_status ? m_status->team() : QList<TeammateBrief>();
    const bool teamChanged = team != m_team;
    m_team = std::move(team);
    const QDateTime before = std::exchange(m_now, QDateTime::currentDateTimeUtc());
    const QHash<QString, CommandBrief> shown = std::exchange(m_running, {});

    const QString count = LiveBoard::countText(running.size());
    if (m_count->text() != count) {
        m_count->setText(count);
        m_count->setObjectName(QStringLiteral("liveboard.count.") + QString::number(running.size()));
    }
    m_empty->setVisible(running.isEmpty());

    // A repeated id keeps its first place. A card is filled in again only
    // when what it shows changed: its command, the roster naming its runner,
    // or the words of its elapsed time.
    QStringList ids;
    QSet<QString> changed;
    QHash<QString, TaskEvidenceModel*> evidence;
    for (const CommandBrief& c : running) {
        if (m_running.contains(c.id))
            continue;
        m_running.insert(c.id, c);
        ids.append(c.id);
        const auto was = shown.constFind(c.id);
        if (teamChanged || was == shown.cend() || *was != c
            || LiveBoard::elapsed(c, before) != LiveBoard::elapsed(c, m_now))
            changed.insert(c.id);
        // A new command's evidence is made in the turns that follow (or with its card).
        TaskEvidenceModel* model = m_evidence.take(c.id);
        if (model)
            model->setCommand(c);
        evidence.insert(c.id, model);
    }
    const QHash<QString, TaskEvidenceModel*> gone = std::exchange(m_evidence, evidence);
    m_order = ids;
    m_nextToMake = 0;
    if (!m_makeSoon->isActive())
        m_makeSoon->start();
    m_rows->setKeys(ids, changed);
    m_rows->setVisible(!ids.isEmpty());
    // After their cards: a card still showing never outlives its evidence.
    for (auto it = gone.cbegin(); it != gone.cend(); ++it) {
        m_stops.remove(it.key());
        if (it.value())
            it.value()->deleteLater();
    }
}

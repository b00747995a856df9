#include "gui/tasks/FeedItemSheet.h"

#include "core/design/DS.h"
#include "core/design/DSFont.h"
#include "core/gateway/Status.h"
#include "gui/design/AimGuard.h"
#include "gui/design/DSText.h"
#include "gui/design/EmptyState.h"
#include "gui/design/LazyRows.h"
#include "gui/design/SecondaryButton.h"
#include "gui/tasks/ActionFeedbackLine.h"
#include "gui/tasks/FeedItemRow.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QScrollArea>
#include <QSet>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr int kWidth = 520;
constexpr int kListMaxHeight = 420;

} // namespace

FeedItemSheet::FeedItemSheet(Texts texts, Status* status, std::optional<CLIConfig> cfg, Reload reload, QWidget* parent)
    : Sheet(texts.prefix + QStringLiteral(".sheet"), texts.title, kWidth, parent)
    , m_texts(std::move(texts))
    , m_status(status)
    , m_cfg(std::move(cfg))
{
    m_reload = reload ? std::move(reload) : ActionRunnerBase::reloadShown(status);
    m_actions = FeedActions::of(status);
    if (m_actions) {
        connect(m_actions, &FeedActions::stateChanged, this, &FeedItemSheet::onStateChanged);
        connect(m_actions, &FeedActions::finished, this, &FeedItemSheet::onFinished);
    }
    m_aim = new AimGuard(this);

    QVBoxLayout* col = column();

    auto* titleRow = new QHBoxLayout;
    titleRow->addWidget(DSText::label(m_texts.title, DSFont::bold(16), DS::ink(), this));
    titleRow->addStretch(1);
    col->addLayout(titleRow);

    QLabel* explanation = DSText::label(m_texts.explanation, DSFont::medium(11.5), DS::muted(0.55), this);
    explanation->setWordWrap(true);
    col->addWidget(explanation);

    m_unreadable = DSText::label(QString(), DSFont::medium(11), DS::amber(), this);
    m_unreadable->setObjectName(m_texts.prefix + QStringLiteral(".unreadable"));
    m_unreadable->setWordWrap(true);
    m_unreadable->hide();
    col->addWidget(m_unreadable);

    // Above the list: an action that failed on an item the reload then dropped
    // must not read as done. Kept until the sheet closes.
    m_gone = new QWidget(this);
    m_gone->setObjectName(m_texts.prefix + QStringLiteral(".failures"));
    m_goneList = new QVBoxLayout(m_gone);
    m_goneList->setContentsMargins(0, 0, 0, 0);
    m_goneList->setSpacing(4);
    m_gone->hide();
    col->addWidget(m_gone);

    auto* empty = new EmptyState(EmptyState::Kind::emptyButHealthy, m_texts.emptyMessage, std::nullopt, this);
    empty->setObjectName(m_texts.prefix + QStringLiteral(".empty"));
    m_empty = empty;
    col->addWidget(m_empty);

    QVBoxLayout* list = addScrollingColumn(kListMaxHeight);
    m_scroll = scrollingPart();
    // Made as they come into view: a thousand items open as fast as a few.
    m_rows = new LazyRows(
        m_scroll, 10, [this](const QString& key) { return makeRow(key); },
        [this](QWidget* row, const QString& key) { fillRow(static_cast<FeedItemRow*>(row), key); },
        list->parentWidget());
    // A row whose action is under way stays made wherever the list is scrolled.
    m_rows->setKeep([this](const QString& key) { return m_actions && m_actions->busy(key); });
    list->addWidget(m_rows);
    list->addStretch(1);

    auto* closeRow = new QHBoxLayout;
    closeRow->addStretch(1);
    closeRow->addWidget(new SecondaryButton(
        QStringLiteral("关闭"), m_texts.prefix + QStringLiteral(".close"), [this] { reject(); }, this));
    col->addLayout(closeRow);

    if (m_status) {
        connect(m_status, &Status::feedChanged, this, &FeedItemSheet::rebuild);
        connect(m_status, &Status::feedErrorChanged, this, &FeedItemSheet::rebuild);
    }
}

std::optional<CLIConfig> FeedItemSheet::config() const
{
    if (!m_cfg || !m_status)
        return m_cfg;
    return m_status->feedConfig();
}

QString FeedItemSheet::headline(const FeedApprovalItem& item)
{
    return item.command.isEmpty() ? item.title : item.command;
}

PermActionState FeedItemSheet::actionState(const QString& itemId) const
{
    return shownState(FeedActions::keyOf(config(), itemId));
}

PermActionState FeedItemSheet::shownState(const QString& key) const
{
    // An action taken before this sheet opened leaves it no feedback (only the hold).
    return m_actions && m_acted.contains(key) ? m_actions->state(key) : PermActionState::idle();
}

FeedItemSheet::Pressed FeedItemSheet::press(const FeedApprovalItem& item) const
{
    for (const FeedApprovalItem& listed : items()) {
        if (listed.id == item.id)
            return { listed, config() };
    }
    return { item, config() };
}

bool FeedItemSheet::stillListed(const Pressed& pressed) const
{
    // Without a configuration nothing can be sent; the request says why.
    if (!pressed.config || !m_status)
        return true;
    const std::optional<CLIConfig> now = config();
    if (!now || Status::workspaceKey(*now) != Status::workspaceKey(*pressed.config))
        return false;
    const QList<FeedApprovalItem> list = items();
    return std::any_of(
        list.cbegin(), list.cend(), [&pressed](const FeedApprovalItem& item) { return item.id == pressed.item.id; });
}

void FeedItemSheet::rebuild()
{
    // A row that moves (one above it left or came) may come under a pointer
    // aimed at the row that was there.
    m_aim->aboutToChange();
    const QList<FeedApprovalItem> list = items();
    const std::optional<CLIConfig> listed = config();
    // Every key begins with the workspace's part: made once, not once an item.
    const QString workspace = FeedActions::keyOf(listed, QString());
    // Only the rows whose item changed are filled in again.
    QSet<QString> changed;
    bool same = workspace == m_workspace && list.size() == m_list.size();
    for (qsizetype i = 0; same && i < list.size(); ++i)
        same = list.at(i).id == m_list.at(i).id;
    if (same) {
        // The same items in the same order (a poll that changed a few or
        // none): compared in place, the keys kept.
        for (qsizetype i = 0; i < list.size(); ++i) {
            if (list.at(i) != m_list.at(i))
                changed.insert(m_keyAt.at(i));
        }
    } else {
        QStringList keyAt;
        keyAt.reserve(list.size());
        QHash<QString, qsizetype> at;
        at.reserve(list.size());
        for (qsizetype i = 0; i < list.size(); ++i) {
            const QString key = workspace + list.at(i).id;
            keyAt.append(key);
            if (at.contains(key))
                continue;
            at.insert(key, i);
            const auto was = m_at.constFind(key);
            if (was == m_at.cend() || m_list.at(*was) != list.at(i))
                changed.insert(key);
        }
        m_keys.clear();
        m_keys.reserve(at.size());
        for (qsizetype i = 0; i < list.size(); ++i) {
            if (at.value(keyAt.at(i)) == i)
                m_keys.append(keyAt.at(i));
        }
        m_keyAt = std::move(keyAt);
        m_at = std::move(at);
        m_workspace = workspace;
    }
    // The items read before go on a later turn: freeing a long list takes a while.
    QTimer::singleShot(0, this, [old = std::exchange(m_list, list)] { Q_UNUSED(old); });
    m_rows->setKeys(m_keys, changed);

    // An item the gateway no longer reports takes its feedback with it; a failure stays above the list.
    for (auto it = m_acted.cbegin(); it != m_acted.cend(); ++it) {
        if (!m_at.contains(it.key()))
            keepGoneFailure(it.key());
    }

    // The rows stay as last read (one acted on stays held) while the list cannot be read.
    const std::optional<QString> unreadable = m_status ? m_status->feedError() : std::nullopt;
    m_unreadable->setText(unreadable
            ? QStringLiteral("现在读不到这份列表（") + *unreadable + QStringLiteral("），下面是上次读到的。")
            : QString());
    m_unreadable->setVisible(unreadable.has_value());

    m_empty->setVisible(list.isEmpty());
    m_scroll->setVisible(!list.isEmpty());
    refit();
}

FeedApprovalItem FeedItemSheet::itemOf(const QString& key) const
{
    const auto at = m_at.constFind(key);
    return at == m_at.cend() ? FeedApprovalItem() : m_list.at(*at);
}

FeedItemRow* FeedItemSheet::makeRow(const QString& key)
{
    const FeedApprovalItem item = itemOf(key);
    auto* row = new FeedItemRow(m_texts.prefix, item.id, m_rows);
    addButtons(row, item);
    for (QAbstractButton* button : row->buttons())
        m_aim->watch(button, key + QLatin1Char('\n') + button->objectName());
    return row;
}

void FeedItemSheet::fillRow(FeedItemRow* row, const QString& key)
{
    row->setItem(itemOf(key), showsOrigin(), subtitleColor());
    refreshRow(row, key);
}

void FeedItemSheet::refreshRow(FeedItemRow* row, const QString& key)
{
    if (!m_actions)
        return;
    // Busy until a list read after the action is on show: the row stays as it is until then.
    row->setAction(shownState(key), m_actions->busy(key));
}

void FeedItemSheet::onStateChanged(const QString& key)
{
    const PermActionState state = m_actions ? m_actions->state(key) : PermActionState::idle();
    if (state.kind() == PermActionState::Kind::Failed)
        m_failed.insert(key, state.text());
    else
        m_failed.remove(key);
    if (m_rows->row(key)) {
        m_aim->aboutToChange();
        m_rows->refresh(key);
    } else if (!m_at.contains(key)) {
        keepGoneFailure(key);
    }
    refit();
}

void FeedItemSheet::onFinished(const QString& key)
{
    if (m_rows->row(key)) {
        m_aim->aboutToChange();
        m_rows->refresh(key);
    }
    emit actionFinished(FeedActions::itemOf(key));
}

void FeedItemSheet::keepGoneFailure(const QString& key)
{
    if (!m_failed.contains(key) || !m_acted.contains(key))
        return;
    // One line per item: a later failure on it replaces the earlier one.
    auto* line = m_gone->findChild<ActionFeedbackLine*>(key, Qt::FindDirectChildrenOnly);
    if (!line) {
        line = new ActionFeedbackLine(10.5, false, m_gone);
        line->setObjectName(key);
        m_goneList->addWidget(line);
    }
    line->setState(PermActionState::failed(headline(m_acted.value(key)) + QStringLiteral("：") + m_failed.value(key)));
    m_gone->show();
    refit();
}

void FeedItemSheet::setAction(const Pressed& pressed, const PermActionState& state)
{
    if (!m_actions)
        return;
    const QString key = FeedActions::keyOf(pressed.config, pressed.item.id);
    m_acted.insert(key, pressed.item);
    m_actions->set(key, state);
}

void FeedItemSheet::send(const Pressed& pressed, const QString& working, const QString& done, Request request)
{
    const QString key = FeedActions::keyOf(pressed.config, pressed.item.id);
    if (!m_actions || m_actions->busy(key))
        return;
    if (!stillListed(pressed)) {
        setAction(pressed,
            PermActionState::failed(QStringLiteral("这一条已经不在它那个工作区的列表里了；什么都没有发给网关。")));
        return;
    }
    m_acted.insert(key, pressed.item);
    // Runs to its end even when the sheet is closed meanwhile.
    m_actions->run(
        key, working, done,
        [model = m_status, config = pressed.config, request = std::move(request)]() -> QCoro::Task<Result<>> {
            if (!model)
                co_return Failure::tolvarine(-1, QStringLiteral("这个窗口已经关了"));
            auto task = request(model, config);
            co_return co_await std::move(task);
        },
        m_reload);
}

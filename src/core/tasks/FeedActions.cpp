#include "core/tasks/FeedActions.h"

#include "core/gateway/Status.h"

FeedActions* FeedActions::of(Status* status)
{
    if (!status)
        return nullptr;
    if (auto* existing = status->findChild<FeedActions*>(QString(), Qt::FindDirectChildrenOnly))
        return existing;
    return new FeedActions(status);
}

FeedActions::FeedActions(Status* status)
    : QObject(status)
    , m_status(status)
{
    // The model's reload is the default; each action brings its own.
    m_runner = new ActionRunner<QString>(ActionRunnerBase::reloadShown(status), ActionRunnerBase::WhenGone::Reload,
        {
            [this](const QString& key) { emit stateChanged(key); },
            [this](const QString& key) {
                forgetUnlisted();
                emit finished(key);
            },
        },
        this);
    m_runner->holdUntilListed(status, Status::Feed);
    connect(status, &Status::feedChanged, this, &FeedActions::forgetUnlisted);
}

QString FeedActions::keyOf(const std::optional<CLIConfig>& config, const QString& itemId)
{
    return (config ? Status::workspaceKey(*config) : QString()) + QLatin1Char('\n') + itemId;
}

QString FeedActions::itemOf(const QString& key)
{
    return key.mid(key.lastIndexOf(QLatin1Char('\n')) + 1);
}

void FeedActions::run(const QString& key, const QString& working, const QString& done,
    ActionRunnerBase::Operation operation, ActionRunnerBase::Reload reload)
{
    if (busy(key))
        return;
    m_runner->run(key, working, done, std::move(operation), {}, std::move(reload));
}

bool FeedActions::listed(const QString& key) const
{
    if (!m_status)
        return false;
    const QString id = itemOf(key);
    // Pressed without a workspace (nothing was sent): kept while the item shows in the list.
    const QString workspace = key.left(key.size() - id.size() - 1);
    const std::optional<CLIConfig>& config = m_status->feedConfig();
    if (!workspace.isEmpty() && (!config || workspace != Status::workspaceKey(*config)))
        return false;
    for (const QList<FeedApprovalItem>* list : { &m_status->pendingApprovalItems(), &m_status->failedFeedItems() }) {
        for (const FeedApprovalItem& item : *list) {
            if (item.id == id)
                return true;
        }
    }
    return false;
}

void FeedActions::forgetUnlisted()
{
    m_runner->retain([this](const QString& key) { return busy(key) || listed(key); });
}

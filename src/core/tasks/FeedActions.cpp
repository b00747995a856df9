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

namespace {

// The workspace's part of a key, with no raw newline in it: the key's first
// newline then ends it, whatever the item's id holds.
QString workspacePart(const std::optional<CLIConfig>& config)
{
    if (!config)
        return QString();
    QString part = Status::workspaceKey(*config);
    part.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    part.replace(QLatin1Char('\n'), QStringLiteral("\\n"));
    return part;
}

} // namespace

QString FeedActions::keyOf(const std::optional<CLIConfig>& config, const QString& itemId)
{
    return workspacePart(config) + QLatin1Char('\n') + itemId;
}

QString FeedActions::itemOf(const QString& key)
{
    return key.mid(key.indexOf(QLatin1Char('\n')) + 1);
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
    const QString workspace = key.left(key.indexOf(QLatin1Char('\n')));
    const std::optional<CLIConfig>& config = m_status->feedConfig();
    if (!workspace.isEmpty() && (!config || workspace != workspacePart(config)))
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

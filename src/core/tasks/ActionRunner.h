#pragma once

#include "core/gateway/Failure.h"
#include "core/gateway/Status.h"
#include "core/tasks/PermActionState.h"

#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>

#include <QCoroTask>

#include <functional>
#include <optional>
#include <utility>

// What the keyed action runners share, whatever their key.
class ActionRunnerBase : public QObject {
public:
    // The work of one action: nothing on success, else the failure shown.
    using Operation = std::function<QCoro::Task<Result<>>()>;
    using Reload = std::function<QCoro::Task<>()>;

    // What follows when the runner is destroyed while an operation runs.
    enum class WhenGone {
        Stop, // nothing: no outcome, no reload, no `finished`
        Reload, // the reload still runs (the request has changed the workspace all the same)
    };

    // The status model's reload of the configuration it shows when the reload starts.
    static Reload reloadShown(Status* status);

    // The status model's list that shows the items acted on. A list read
    // before an action's outcome may still show the item as it was, and a
    // reload overtaken by a newer one publishes nothing: an item acted on
    // stays busy until a list of this kind read after the outcome is
    // published, whichever reload reads it (or at once after its reload
    // when the action failed). Without one, the reload alone ends the wait.
    void holdUntilListed(Status* status, Status::Load list)
    {
        m_listedBy = status;
        m_list = list;
    }

protected:
    using QObject::QObject;

    // The mark that loads started from now on are later than.
    quint64 loadsStarted() const { return m_listedBy ? m_listedBy->loadsStarted() : 0; }
    // Calls `then` once a list read by a load started after `mark` is on show
    // (at once without a status model); never once this runner is gone.
    void whenListed(quint64 mark, std::function<void()> then)
    {
        if (!m_listedBy) {
            then();
            return;
        }
        m_listedBy->whenPublished(m_list, mark, this, std::move(then));
    }

private:
    QPointer<Status> m_listedBy;
    Status::Load m_list = Status::Feed;
};

// Actions on keyed items (the tiers and the feed items of each workspace)
// and the feedback of the last action on each: "working" at once, then the
// operation, then ok with the moment, the failure text, or, when the reply
// did not come, that the outcome is not known; then one reload whatever the
// outcome, then `finished` once the item's list is read afresh (see
// holdUntilListed). Lives as a child of the model that offers the actions;
// `hooks` tell it what changed.
template <typename Key> class ActionRunner : public ActionRunnerBase {
public:
    struct Hooks {
        // A key's state was written.
        std::function<void(const Key&)> changed;
        // An action on the key has ended: after its reload, and after its success is listed.
        std::function<void(const Key&)> finished;
    };

    ActionRunner(Reload reload, WhenGone whenGone, Hooks hooks, QObject* parent)
        : ActionRunnerBase(parent)
        , m_reload(std::move(reload))
        , m_whenGone(whenGone)
        , m_hooks(std::move(hooks))
    {
    }

    // Idle for a key nothing was done to.
    PermActionState state(const Key& key) const { return m_states.value(key); }
    // From the press until a list read after its outcome is on show (see
    // holdUntilListed): the item stays as it was acted on (one double click,
    // one action), and takes no second action.
    bool busy(const Key& key) const { return m_busy.contains(key); }
    // Records an outcome without running anything (nothing is reloaded).
    void set(const Key& key, const PermActionState& state)
    {
        m_states.insert(key, state);
        if (m_hooks.changed)
            m_hooks.changed(key);
    }
    // Forgets the feedback of every key `keep` turns down, quietly.
    template <typename Keep> void retain(Keep keep)
    {
        m_states.removeIf([&](const auto& entry) { return !keep(entry.key()); });
    }

    // What a success turns out to be once the list read after it is on show:
    // a done text that replaces the one given to run(), or none to keep it.
    using DoneOnceListed = std::function<std::optional<QString>()>;

    // Shows `working` at once; the operation, its outcome (`done` on success)
    // and the reload (`reload`, else the runner's) follow on their own.
    void run(const Key& key, const QString& working, const QString& done, Operation operation,
        DoneOnceListed doneOnceListed = {}, Reload reload = {})
    {
        m_busy.insert(key);
        set(key, PermActionState::working(working));
        awaitOutcomeThenReload(this, key, done, std::move(operation), reload ? std::move(reload) : m_reload, m_whenGone,
            std::move(doneOnceListed));
    }

private:
    static QCoro::Task<> awaitOutcomeThenReload(QPointer<ActionRunner> self, Key key, QString done, Operation operation,
        Reload reload, WhenGone whenGone, DoneOnceListed doneOnceListed)
    {
        const Result<> result = co_await operation();
        // Loads started from here on read the workspace as the action left it.
        const quint64 mark = self ? self->loadsStarted() : 0;
        const QDateTime at = QDateTime::currentDateTime();
        // No reply: the gateway may have done it. The list read next tells,
        // and the item is held until it is on show, as after a success.
        const std::optional<Failure> unanswered = !result.ok() && result.failure().outcomeUnknown()
            ? std::optional<Failure>(result.failure())
            : std::nullopt;
        if (self) {
            self->set(key,
                result.ok()      ? PermActionState::ok(done, at)
                    : unanswered ? PermActionState::unknown(PermActionState::unknownText(*unanswered, false))
                                 : PermActionState::failed(PermActionState::failureText(result.failure())));
        } else if (whenGone == WhenGone::Stop) {
            co_return;
        }
        // The reload picks its workspace when it starts: the user may have switched meanwhile.
        if (reload) {
            auto task = reload();
            co_await std::move(task);
        }
        if (!self)
            co_return;
        if (!result.ok() && !unanswered) {
            self->release(key);
            co_return;
        }
        self->whenListed(mark, [self, key, at, unanswered, doneOnceListed = std::move(doneOnceListed)] {
            if (!self)
                return;
            if (unanswered) {
                self->set(key, PermActionState::unknown(PermActionState::unknownText(*unanswered, true)));
            } else if (doneOnceListed) {
                if (const std::optional<QString> text = doneOnceListed())
                    self->set(key, PermActionState::ok(*text, at));
            }
            self->release(key);
        });
    }

    void release(const Key& key)
    {
        m_busy.remove(key);
        if (m_hooks.finished)
            m_hooks.finished(key);
    }

    Reload m_reload;
    WhenGone m_whenGone;
    Hooks m_hooks;
    QHash<Key, PermActionState> m_states;
    QSet<Key> m_busy;
};

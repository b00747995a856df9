#pragma once

#include "core/gateway/Failure.h"
#include "core/tasks/PermActionState.h"

#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>

#include <QCoroTask>

#include <functional>
#include <utility>

class Status;

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

protected:
    using QObject::QObject;
};

// Actions on keyed items (the tiers of each workspace, the feed items of a
// sheet) and the feedback of the last action on each: "working" at once,
// then the operation, then ok with the moment or the failure text, then one
// reload whatever the outcome, then `finished`. Lives as a child of the view
// or model that offers the actions; `hooks` tell it what changed.
template <typename Key> class ActionRunner : public ActionRunnerBase {
public:
    struct Hooks {
        // A key's state was written.
        std::function<void(const Key&)> changed;
        // An action on the key has ended, after its reload.
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
    // From the press until the reload after it is in: the item stays as it was
    // acted on (one double click, one action), and takes no second action.
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

    // Shows `working` at once; the operation, its outcome (`done` on success)
    // and the reload follow on their own.
    void run(const Key& key, const QString& working, const QString& done, Operation operation)
    {
        m_busy.insert(key);
        set(key, PermActionState::working(working));
        awaitOutcomeThenReload(this, key, done, std::move(operation), m_reload, m_whenGone);
    }

private:
    static QCoro::Task<> awaitOutcomeThenReload(
        QPointer<ActionRunner> self, Key key, QString done, Operation operation, Reload reload, WhenGone whenGone)
    {
        const Result<> result = co_await operation();
        if (self) {
            self->set(key,
                result.ok() ? PermActionState::ok(done, QDateTime::currentDateTime())
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
        self->m_busy.remove(key);
        if (self->m_hooks.finished)
            self->m_hooks.finished(key);
    }

    Reload m_reload;
    WhenGone m_whenGone;
    Hooks m_hooks;
    QHash<Key, PermActionState> m_states;
    QSet<Key> m_busy;
};

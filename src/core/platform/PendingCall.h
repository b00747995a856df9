#pragma once

#include <QObject>
#include <QTimer>

#include <functional>

// Many requests, one run: request() asks for `run` to be called once control
// is back in the event loop; more requests before then add nothing. A model
// that publishes group by group, or several stores that change in one go,
// thus cost one pass. A request made while `run` runs asks for one more run.
// Owned by its parent, which `run` may use freely.
class PendingCall : public QObject {
public:
    PendingCall(QObject* parent, std::function<void()> run);

    void request();
    // Drops a run that is asked for; for a caller that has just done the work itself.
    void cancel();
    bool isPending() const;

private:
    QTimer m_timer;
    std::function<void()> m_run;
};

#pragma once

#include <QObject>

class QLocalServer;

// One instance of the application per home (the stores' folder, which
// TOLVARINE_HOME moves), so that no two processes rewrite one store. The
// first to start holds a lock that the system lets go of however the process
// ends (flock on a file in that folder, closed on exec so that no worker keeps
// it), and listens for later launches: each asks it to bring its window
// forward, then ends. A launch while the instance quits starts once it has
// ended.
class InstanceGuard : public QObject {
    Q_OBJECT
public:
    explicit InstanceGuard(QObject* parent = nullptr);
    ~InstanceGuard() override;

    // True when this process is the home's one instance, also when no lock
    // can be had there at all (a folder that takes no lock file takes no store
    // either); false when another instance holds it, which has been asked to
    // come forward. Blocks up to 10 s, before there is a window.
    bool claim();

signals:
    // A later launch on this home asked for the window.
    void comeForwardAsked();

private:
    void listen();

    int m_lock = -1;
    QLocalServer* m_server = nullptr;
};

#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <sys/types.h>

class QFileSystemWatcher;

// One instance of the application per home (the folder that holds the stores'
// ".tolvarine", which TOLVARINE_HOME moves), so that no two processes rewrite
// one store. The first to start holds an flock on the home folder itself: a
// removal of anything inside it (the stores' folder with every file in it)
// cannot hand the lock to a second launch, and the system lets go of it only
// when the process has ended, after everything else in it. Since anyone who
// can read the folder can lock it, a lock there that only other users'
// processes hold does not count; every instance also holds an flock on
// ".tolvarine/desktop.lock" (0600, only this user can open it), which then
// keeps the second launch out (InstanceLock); such an instance also shares
// the folder's lock where the stranger's is shared, and a launch in that case
// asks the socket first, so that removing the stores' folder with the lock
// file in it still lets no second instance run. The locks are taken on
// descriptors closed on exec, so no worker keeps them; nothing else of this
// process may take an flock on the home folder (it would shut itself out).
//
// The instance listens on ".tolvarine/desktop.sock" in that home, where every
// launch on it looks whatever its environment says, and listens again when
// the socket is removed. Both ends check that the other runs as this user.
// A later launch asks it to bring its window forward (with a relocation
// folder given on its command line), waits for the answer and ends.
class InstanceGuard : public QObject {
    Q_OBJECT
public:
    enum class Claim {
        // This process is the home's one instance (also when no lock can be had
        // there at all: a folder that takes no lock takes no store either).
        Instance,
        // The running instance took the launch over.
        HandedOver,
        // Another instance holds the home and did not take the launch over:
        // refusal() says why.
        Refused,
    };

    explicit InstanceGuard(QObject* parent = nullptr);
    ~InstanceGuard() override;

    // `arguments` are this launch's, program first: a "-ZRKRelocateTo" folder
    // among them (relative to this launch's working folder) travels with the
    // hand-over. Blocks (before there is a window) up to 10 s for an instance
    // that is starting or quitting and up to 20 s for one slow to answer; a
    // stopped one is refused at once.
    Claim claim(const QStringList& arguments);
    // Listens for later launches, once this process is the instance. Called
    // after the window's first frame, which then does not wait for the socket
    // and its watch; a launch meanwhile waits for it as for a starting instance.
    void startListening();
    // Why the launch was refused, in the window's language (for standard error).
    const QString& refusal() const { return m_refusal; }

signals:
    // A later launch on this home asked for the window; `relocateTo` is the
    // absolute folder it was given with "-ZRKRelocateTo", or empty.
    void comeForwardAsked(const QString& relocateTo);

private:
    void listen();
    // The socket or its folder changed on disk: listens again unless the
    // socket is still the one this instance bound.
    void checkSocket();
    void stopListening();

    // The listening socket with its notifier and every connection still open.
    class Listener;
    Listener* m_server = nullptr;
    QFileSystemWatcher* m_watcher = nullptr;
    // The stores' folder the server's name goes through (its full path may be
    // longer than a socket address takes).
    int m_folder = -1;
    dev_t m_socketDevice = 0;
    ino_t m_socketInode = 0;
    int m_retries = 0;
    bool m_locked = false;
    bool m_quitting = false;
    QString m_refusal;
};

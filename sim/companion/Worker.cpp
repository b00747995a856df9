#include "Worker.h"

#include <QDir>
#include <QFile>
#include <QProcessEnvironment>
#include <QThread>

#include <algorithm>
#include <csignal>
#include <ctime>

#include <sys/prctl.h>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t g_stop = 0;

void onTerm(int)
{
    g_stop = 1;
}

// Sleeps up to `ms`, waking early when asked to stop.
void nap(int ms)
{
    for (int slept = 0; slept < ms && !g_stop; slept += 20) {
        const timespec step { 0, std::min(20, ms - slept) * 1000 * 1000 };
        nanosleep(&step, nullptr);
    }
}

// Starts a child of the worker's own (a long sleep in the worker's process
// group) and appends its pid to `children` in the steering folder. The worker
// never ends it: like a careless runtime, it leaves it behind when it goes.
// `kind` says what else it does: "stubborn" ignores SIGTERM; "setsid" leaves
// the worker's group for a session of its own; "envless" runs with an empty
// environment (as `env -i` does); "undumpable" makes itself not dumpable, so
// that an ordinary user cannot read its environment.
void startChild(const Steering& steering, const QByteArray& kind)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (kind == "stubborn")
            std::signal(SIGTERM, SIG_IGN);
        if (kind == "setsid")
            ::setsid();
        if (kind == "undumpable") {
            // It runs no new program: the worker's own handler would stay.
            std::signal(SIGTERM, SIG_DFL);
            // An exec would make it dumpable again: it sleeps as it is.
            ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
            for (;;)
                ::pause();
        }
        char* const noEnvironment[] = { nullptr };
        if (kind == "envless")
            ::execle("/bin/sleep", "sleep", "3600", static_cast<char*>(nullptr), noEnvironment);
        ::execl("/bin/sleep", "sleep", "3600", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    if (pid > 0) {
        // Appended in one write: several workers may start at once.
        QFile f(QDir(steering.dir()).filePath(QStringLiteral("children")));
        if (f.open(QIODevice::WriteOnly | QIODevice::Append))
            f.write(QByteArray::number(pid) + '\n');
    }
}

} // namespace

namespace Worker {

int run(const Steering& steering)
{
    if (steering.exists(QStringLiteral("run.ignore_term"))) {
        std::signal(SIGTERM, SIG_IGN);
    } else {
        struct sigaction action { };
        action.sa_handler = onTerm;
        sigemptyset(&action.sa_mask);
        sigaction(SIGTERM, &action, nullptr);
    }

    // "run.child" names the children to start, one word each ("1": a plain one).
    if (steering.exists(QStringLiteral("run.child"))) {
        const QList<QByteArray> kinds
            = steering.read(QStringLiteral("run.child")).value_or(QByteArray()).simplified().split(' ');
        for (const QByteArray& kind : kinds)
            startChild(steering, kind);
    }

    const auto env = QProcessEnvironment::systemEnvironment();
    say(QStringLiteral("brenlow run: kind=%1 runtime=%2 ws=%3\n")
            .arg(env.value(QStringLiteral("TOLVARINE_RUNTIME_KIND")), env.value(QStringLiteral("TOLVARINE_RUNTIME")),
                env.value(QStringLiteral("TOLVARINE_WS"))));

    if (steering.exists(QStringLiteral("run.split_line"))) {
        // One line in two writes, cut inside the three bytes of the last character.
        const QByteArray line = QStringLiteral("split line 完整\n").toUtf8();
        const qsizetype cut = line.size() - 2;
        sayRaw(line.left(cut));
        nap(200);
        sayRaw(line.mid(cut));
    }

    const int interval = std::max(steering.integer(QStringLiteral("run.interval_ms")).value_or(1000), 10);
    for (int n = 1; !g_stop; ++n) {
        nap(interval);
        if (g_stop)
            break;
        say(QStringLiteral("heartbeat %1\n").arg(n));
    }
    say(QStringLiteral("brenlow run: stopped\n"));
    return 0;
}

} // namespace Worker

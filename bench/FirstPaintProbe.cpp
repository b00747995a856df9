// Linked into the benchmark's build of the application and into the bare
// window: prints "painted <ns>" (CLOCK_MONOTONIC) on standard output the first
// time a widget of the class named by TOLVARINE_BENCH_PAINT_CLASS, or a widget
// inside one, receives a paint event (and then exits at once when
// TOLVARINE_BENCH_EXIT_ON_PAINT is set, to profile a start on its own). The
// start-up benchmark starts both as fresh processes and subtracts the moment
// it started them. The probe installs itself when the application object is
// made, so the application's own main() is built unchanged.

#include <QCoreApplication>
#include <QEvent>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

class FirstPaintProbe : public QObject {
public:
    explicit FirstPaintProbe(QByteArray className)
        : QObject(QCoreApplication::instance())
        , m_className(std::move(className))
    {
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (m_done || event->type() != QEvent::Paint || !inside(watched))
            return false;
        m_done = true;
        timespec ts {};
        clock_gettime(CLOCK_MONOTONIC, &ts);
        std::printf("painted %lld\n", static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec);
        std::fflush(stdout);
        if (qEnvironmentVariableIsSet("TOLVARINE_BENCH_EXIT_ON_PAINT"))
            std::_Exit(0);
        // Nothing more to watch: the filter leaves once this event is through.
        QTimer::singleShot(0, this, [this] {
            QCoreApplication::instance()->removeEventFilter(this);
            deleteLater();
        });
        return false;
    }

private:
    bool inside(QObject* watched) const
    {
        for (QObject* o = watched; o; o = o->parent()) {
            if (o->inherits(m_className.constData()))
                return true;
        }
        return false;
    }

    QByteArray m_className;
    bool m_done = false;
};

void installFirstPaintProbe()
{
    const QByteArray className = qgetenv("TOLVARINE_BENCH_PAINT_CLASS");
    if (className.isEmpty())
        return;
    QCoreApplication::instance()->installEventFilter(new FirstPaintProbe(className));
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(installFirstPaintProbe)

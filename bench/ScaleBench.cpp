// The window's cost as one dimension grows, the rest small: the worst turn of
// the GUI thread (the tests' stall probe) while the window, in this process,
// offscreen, against the stand-in gateway with a generated scenario,
//
// - opens 待你审批 over 1,000 waiting approvals, then polls with it open
//   (one item changing between polls);
// - shows the live board of 10,000 tasks, 250 of them running and moving on;
// - loads a team of 500 employees for the first time;
// - opens a 30 MB text in one line in the artifact sheet and scrolls to its end;
// - opens the model sheet (配置模型) over 1,000 stored accounts;
// - polls with 1,000 paired workspaces;
// - receives a list with 1,000 running tasks once the window has settled,
//   then keeps its 5-second poll for a minute (the turn when the list
//   arrives, the command list's pace, the connections open);
// - pages through 待你审批 over 20,000 approvals to the end, with End and
//   with PageDown, polls (one item changing) and closes it;
// - scrolls the team of 2,000 employees and the model sheet over 10,000
//   accounts to their ends.
//
// The scrolling cases read the resident size at each step as well: after
// scrolling to the end it stays within the first screen's plus 50 MB.
//
// Each case runs in a fresh process at three sizes: a small one (the floor,
// the same window doing the same with little), half the full size and the
// full size. The resident size at the end of each gives its growth over the
// floor's, which, as the size doubles, should no more than double.
//
//   tolvarine-bench-scale --figures FILE [--smoke]
//   tolvarine-bench-scale --case NAME --size N --seconds S --result FILE   (one measurement)
//
// --smoke runs the same cases at smaller sizes and with short windows.

#include "BenchSupport.h"
#include "StallProbe.h"

#include "core/gateway/RequestGate.h"
#include "core/gateway/Status.h"
#include "core/platform/SecretStore.h"
#include "core/providers/ProviderProfile.h"
#include "core/providers/ProviderProfileStore.h"
#include "core/runtimes/RuntimeInventoryStore.h"
#include "core/shell/WindowController.h"
#include "core/tasks/EvidenceClient.h"
#include "core/tasks/TaskEvidenceModel.h"
#include "gui/design/AdaptiveColumns.h"
#include "gui/design/LazyRows.h"
#include "gui/providers/ModelProviderSheet.h"
#include "gui/runtimes/RuntimeCard.h"
#include "gui/runtimes/RuntimeSection.h"
#include "gui/shell/MainWindow.h"
#include "gui/shell/PairedPage.h"
#include "gui/tasks/ApprovalsSheet.h"
#include "gui/tasks/DeskArtifactSheet.h"
#include "gui/workforce/LiveTaskBoard.h"
#include "gui/workforce/TeamSection.h"

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QKeyEvent>
#include <QProcess>
#include <QScrollArea>
#include <QScrollBar>
#include <QSet>
#include <QThreadPool>
#include <QTimer>

#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

using namespace std::chrono_literals;

namespace {

// One stretch of the measurement: its worst turn and the limit it is held to.
struct Phase {
    const char* key;
    const char* label;
    double limitMs;
};

struct Case {
    const char* name;
    // "approvals" at `n`: what grows, as the table says it.
    QString (*what)(qint64 n);
    qint64 floorSize;
    qint64 fullSize;
    qint64 smokeSize;
    QList<Phase> phases;
};

QString count(qint64 n)
{
    return QLocale(QLocale::English).toString(n);
}

const QList<Case>& cases()
{
    static const QList<Case> all {
        { "approvals", [](qint64 n) { return count(n) + QStringLiteral(" approvals"); }, 10, 1000, 200,
            { { "open", "待你审批 opened", 100 }, { "poll", "polls with it open", 50 } } },
        { "tasks", [](qint64 n) { return count(n) + QStringLiteral(" tasks, ") + count(n / 40) + " running"; }, 400,
            10000, 2000, { { "board", "live board polling", 50 } } },
        { "employees", [](qint64 n) { return count(n) + QStringLiteral(" employees"); }, 5, 500, 100,
            { { "load", "team's first load", 50 } } },
        { "artifact",
            [](qint64 n) {
                return (n >= 1000000 ? QString::number(double(n) / 1e6, 'f', 1) + QStringLiteral(" MB")
                                     : QString::number(n / 1000) + QStringLiteral(" kB"))
                    + QStringLiteral(" in one line");
            },
            30000, 30000000, 3000000, { { "open", "artifact opened, scrolled to the end", 100 } } },
        { "accounts", [](qint64 n) { return count(n) + QStringLiteral(" accounts"); }, 5, 1000, 200,
            { { "open", "配置模型 opened", 100 } } },
        { "workspaces", [](qint64 n) { return count(n) + QStringLiteral(" workspaces"); }, 5, 1000, 200,
            { { "poll", "polls", 50 } } },
        { "approvals-scroll", [](qint64 n) { return count(n) + QStringLiteral(" approvals paged through"); }, 10, 20000,
            1000,
            { { "open", "待你审批 opened", 100 }, { "end", "End to the last row", 50 },
                { "pagedown", "PageDown to the end", 50 }, { "poll", "a one-item poll after scrolling", 50 },
                { "close", "closed", 50 } } },
        { "team-scroll", [](qint64 n) { return count(n) + QStringLiteral(" employees scrolled through"); }, 5, 2000,
            300, { { "scroll", "team scrolled to the end", 50 } } },
        { "accounts-scroll", [](qint64 n) { return count(n) + QStringLiteral(" accounts scrolled through"); }, 5, 10000,
            1000, { { "open", "配置模型 opened", 100 }, { "scroll", "scrolled to the end", 50 } } },
    };
    return all;
}

// ----------------------------------------------------------------- one measurement

using bench::spin;
using bench::waitUntil;

// Runs `action` as a turn of its own, then the event loop for `ms`: the probe sees the action's turn.
void act(const std::function<void()>& action, int ms)
{
    QTimer::singleShot(0, QCoreApplication::instance(), action);
    spin(ms);
}

// The scenario's file: the large scenario's shape with one dimension grown.
QString shapeOf(const QString& name, qint64 n)
{
    const QString small = QStringLiteral("commands=40,employees=4,feed=6,");
    if (name == QLatin1String("approvals") || name == QLatin1String("approvals-scroll"))
        return QStringLiteral("commands=40,employees=4,approvals-only=1,feed=%1").arg(n);
    if (name == QLatin1String("tasks"))
        return QStringLiteral("employees=4,feed=6,advance=1,commands=%1").arg(n);
    if (name == QLatin1String("employees") || name == QLatin1String("team-scroll"))
        return QStringLiteral("commands=40,feed=6,employees=%1").arg(n);
    if (name == QLatin1String("artifact"))
        return small + QStringLiteral("one-line-bytes=%1").arg(n);
    if (name == QLatin1String("workspaces"))
        return small + QStringLiteral("workspaces=%1").arg(n);
    if (name == QLatin1String("running"))
        return QStringLiteral("employees=4,feed=6,running-every=4,commands=%1").arg(n * 4);
    return small;
}

// The TCP connections this process holds open to `port` (any state but
// closing down): its socket inodes matched in the kernel's tables.
int connectionsTo(int port)
{
    QSet<QByteArray> ours;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString& fd : fds.entryList(QDir::System | QDir::NoDotAndDotDot)) {
        const QString target = QFile::symLinkTarget(fds.filePath(fd));
        const qsizetype at = target.indexOf(QLatin1String("socket:["));
        if (at >= 0)
            ours.insert(target.mid(at + 8).chopped(1).toLatin1());
    }
    int n = 0;
    for (const char* table : { "/proc/self/net/tcp", "/proc/self/net/tcp6" }) {
        QFile f(QString::fromLatin1(table));
        if (!f.open(QIODevice::ReadOnly))
            continue;
        f.readLine();
        for (QByteArray line = f.readLine(); !line.isEmpty(); line = f.readLine()) {
            const QList<QByteArray> cols = line.simplified().split(' ');
            if (cols.size() < 10 || !ours.contains(cols.at(9)))
                continue;
            // 01 established, 02 syn sent.
            const bool open = cols.at(3) == "01" || cols.at(3) == "02";
            if (open && cols.at(2).split(':').value(1).toInt(nullptr, 16) == port)
                ++n;
        }
    }
    return n;
}

// Every measurement: the stand-in, the home, the window; then the case's phases.
class Measurement {
public:
    Measurement(QString name, qint64 size, int seconds, bench::ScratchHome& home)
        : m_name(std::move(name))
        , m_size(size)
        , m_seconds(seconds)
        , m_home(home)
    {
    }

    std::optional<QJsonObject> run()
    {
        const QString scenario = m_home.path() + QStringLiteral("/scenario.json");
        if (QProcess::execute(bench::gatewaySim(),
                { QStringLiteral("--generate-large"), scenario, QStringLiteral("--shape"), shapeOf(m_name, m_size) })
                != 0
            || !m_gateway.start(scenario))
            return fail("the scenario did not start");
        QFile::remove(scenario);
        if (m_name == QLatin1String("workspaces")) {
            for (qint64 w = 1; w < m_size; ++w) {
                const QString n = QStringLiteral("%1").arg(w, 4, 10, QLatin1Char('0'));
                CLIConfig c;
                c.api = m_gateway.origin();
                c.workspace = QStringLiteral("ws-") + n;
                c.token = QStringLiteral("token-") + n;
                c.name = QStringLiteral("工作区 ") + n;
                c.device = QStringLiteral("bench-device");
                m_home.pair(c);
            }
        }
        // Paired last: the one shown.
        m_home.pair(bench::largeWorkspace(m_gateway.origin()));
        m_home.enter(m_gateway.origin(), true);
        if (m_name.startsWith(QLatin1String("accounts")) && !writeAccounts())
            return fail("cannot write the accounts");
        // The roster comes once the window has settled, however long that takes:
        // the team is empty until then, and its first load is what is measured.
        QJsonArray roster;
        if (m_name == QLatin1String("employees")) {
            const std::optional<QByteArray> state = m_gateway.read(QStringLiteral("/_sim/state/ws-large"));
            roster = state ? QJsonDocument::fromJson(*state).object().value(QStringLiteral("employees")).toArray()
                           : QJsonArray {};
            if (roster.size() < m_size || !setRoster({}))
                return fail("the stand-in's roster could not be held back");
        }

        // The running tasks come once the window has settled: their arrival is what is measured.
        QJsonArray commands;
        if (m_name == QLatin1String("running") && !holdBackCommands(commands))
            return fail("the stand-in's command list could not be held back");

        // Polls come round every second, so that a few fall in each measured stretch;
        // the running tasks' case keeps the window's own pace.
        MainWindow window(MainWindow::Intervals { m_name == QLatin1String("running") ? 5s : 1s, 24h });
        window.resize(840, 720);
        m_window = &window;
        QObject::connect(window.controller(), &WindowController::pollPassFinished, &window, [this] { ++m_polls; });
        if (!showLoaded())
            return fail("the window did not load");

        QJsonObject turns;
        if (m_name.endsWith(QLatin1String("-scroll"))) {
            std::optional<QJsonObject> scrolled = scrolling(window);
            m_window = nullptr;
            if (!scrolled)
                return fail(m_failure);
            return scrolled;
        }
        if (m_name == QLatin1String("approvals")) {
            const auto opened = [&] { return window.approvalsSheet() && window.approvalsSheet()->isVisible(); };
            turns.insert(QStringLiteral("open"), worstOver([&] { window.openApprovals(); }, opened, 1500));
            if (!opened())
                return fail("the sheet did not open");
            const std::optional<double> polls = pollWithChanges();
            if (!polls)
                return fail("the feed could not be changed");
            turns.insert(QStringLiteral("poll"), *polls);
        } else if (m_name == QLatin1String("tasks") || m_name == QLatin1String("workspaces")) {
            turns.insert(
                m_name == QLatin1String("tasks") ? QStringLiteral("board") : QStringLiteral("poll"), worstOverPolls());
        } else if (m_name == QLatin1String("employees")) {
            if (!window.controller()->status()->team().isEmpty())
                return fail("the roster came before the window had settled");
            if (!setRoster(roster))
                return fail("the stand-in's roster could not be given back");
            m_probe.reset();
            if (!waitUntil([&] { return window.controller()->status()->team().size() >= m_size; }, 30000))
                return fail("the roster did not come");
            spin(1000);
            turns.insert(QStringLiteral("load"), m_probe.worstTurnMs());
        } else if (m_name == QLatin1String("artifact")) {
            const std::optional<double> open = openArtifact();
            if (!open)
                return fail("the artifact did not load");
            turns.insert(QStringLiteral("open"), *open);
        } else if (m_name == QLatin1String("accounts")) {
            const std::optional<double> open = openAccounts();
            if (!open)
                return fail("the model sheet did not open");
            turns.insert(QStringLiteral("open"), *open);
        } else if (m_name == QLatin1String("running")) {
            std::optional<QJsonObject> running = measureRunning(commands);
            if (!running)
                return std::nullopt;
            running->insert(QStringLiteral("rss_kb"), bench::procStatusKb(0, "VmRSS:"));
            m_window = nullptr;
            return running;
        }
        const qint64 rss = bench::procStatusKb(0, "VmRSS:");
        m_window = nullptr;
        return QJsonObject { { QStringLiteral("turns"), turns }, { QStringLiteral("rss_kb"), rss } };
    }

private:
    std::nullopt_t fail(const char* why)
    {
        std::fprintf(stderr, "scale: %s at %lld: %s\n", qPrintable(m_name), static_cast<long long>(m_size), why);
        return std::nullopt;
    }

    bool showLoaded()
    {
        WindowController* c = m_window->controller();
        bool loaded = false;
        QObject::connect(c, &WindowController::initialLoadFinished, c, [&loaded] { loaded = true; });
        m_window->show();
        const bool ok = waitUntil(
            [&] {
                return (loaded || m_name == QLatin1String("employees")) && !c->inventory()->loading()
                    && !c->inventory()->rows().isEmpty();
            },
            120000);
        QObject::disconnect(c, nullptr, c, nullptr);
        spin(500);
        return ok;
    }

    // The worst turn from `action` until `done`, and for at least `ms`.
    double worstOver(const std::function<void()>& action, const std::function<bool()>& done, int ms)
    {
        m_probe.reset();
        QElapsedTimer t;
        t.start();
        act(action, 0);
        waitUntil([&] { return done() && t.elapsed() >= ms; }, 120000);
        return m_probe.worstTurnMs();
    }

    // The stand-in's roster for the large workspace; blocking, so not while measuring.
    bool setRoster(const QJsonArray& employees)
    {
        return m_gateway.control("PATCH", QStringLiteral("/_sim/state/ws-large"),
            QJsonDocument(QJsonObject { { QStringLiteral("employees"), employees } }).toJson());
    }

    // The worst turn over at least `m_seconds` and at least three polls.
    double worstOverPolls()
    {
        m_probe.reset();
        QElapsedTimer t;
        t.start();
        const int until = m_polls + 3;
        waitUntil([&] { return m_polls >= until && t.elapsed() >= m_seconds * 1000; }, 120000);
        return m_probe.worstTurnMs();
    }

    // Polls with the sheet open, the feed changing one item before each. The
    // changes are sent from another thread, so that only the window's own work
    // falls on this one.
    std::optional<double> pollWithChanges()
    {
        const std::optional<QByteArray> state = m_gateway.read(QStringLiteral("/_sim/state/ws-large"));
        const QJsonObject workspace = state ? QJsonDocument::fromJson(*state).object() : QJsonObject {};
        QJsonArray feed = workspace.value(QStringLiteral("feed")).toArray();
        if (feed.isEmpty())
            return std::nullopt;
        QList<QByteArray> bodies;
        for (int i = 0; i < 2; ++i) {
            QJsonObject first = feed.at(0).toObject();
            first.insert(QStringLiteral("title"), QStringLiteral("第 0 条待办（第 %1 版）").arg(i));
            feed.replace(0, first);
            bodies.append(QJsonDocument(QJsonObject { { QStringLiteral("feed"), feed } }).toJson());
        }
        std::atomic<int> polls = m_polls;
        std::atomic<bool> stop = false;
        bench::StandInGateway* gateway = &m_gateway;
        // The next change goes as soon as a poll has read the last one.
        std::thread changer([&stop, &polls, bodies, gateway] {
            for (int sent = 0, seen = -1; !stop; std::this_thread::sleep_for(5ms)) {
                if (polls == seen)
                    continue;
                seen = polls;
                gateway->control("PATCH", QStringLiteral("/_sim/state/ws-large"), bodies.at(sent++ % 2));
            }
        });
        const QMetaObject::Connection counting = QObject::connect(
            m_window->controller(), &WindowController::pollPassFinished, m_window, [&polls, this] { polls = m_polls; });
        const double worst = worstOverPolls();
        QObject::disconnect(counting);
        stop = true;
        changer.join();
        return worst;
    }

    std::optional<double> openArtifact()
    {
        DeskFileChange file;
        file.path = QStringLiteral("dist/bundle.min.js");
        file.hash = QStringLiteral("one-line");
        file.size = m_size;
        file.added = 1;
        auto* evidence = new EvidenceClient(m_window);
        QPointer<DeskArtifactSheet> sheet;
        bool loaded = false;
        m_probe.reset();
        act(
            [&] {
                sheet = new DeskArtifactSheet(
                    file, m_window->controller()->selectedConfig(), evidence, QStringLiteral("打包前端"), m_window);
                QObject::connect(sheet, &DeskArtifactSheet::loadFinished, sheet, [&loaded] { loaded = true; });
                sheet->open();
            },
            0);
        if (!waitUntil([&] { return loaded || !sheet; }, 300000) || !sheet || !sheet->text())
            return std::nullopt;
        spin(1000);
        // To the end of the text, where a layout of all of it would be needed.
        act(
            [&] {
                if (!sheet)
                    return;
                QScrollBar* longest = nullptr;
                for (QAbstractScrollArea* area : sheet->findChildren<QAbstractScrollArea*>()) {
                    QScrollBar* bar = area->verticalScrollBar();
                    if (!longest || bar->maximum() > longest->maximum())
                        longest = bar;
                }
                if (longest)
                    longest->setValue(longest->maximum());
            },
            1000);
        // Left open: the resident size is read with the text shown.
        return m_probe.worstTurnMs();
    }

    bool writeAccounts()
    {
        QList<ProviderProfile> profiles;
        for (qint64 i = 0; i < m_size; ++i) {
            ProviderProfile p;
            p.id = QUuid::createUuid();
            p.provider = QStringLiteral("openai");
            p.name = QStringLiteral("账号 %1").arg(i);
            p.baseURL = QStringLiteral("https://models.example/v1");
            p.defaultModel = QStringLiteral("gpt-5-codex");
            p.createdAt = QDateTime::currentDateTimeUtc().addSecs(-i * 60);
            profiles.append(p);
        }
        QFile out(ProviderProfileStore::filePath());
        return out.open(QIODevice::WriteOnly | QIODevice::Truncate)
            && out.write(ProviderProfile::encodeList(profiles)) >= 0;
    }

    std::optional<double> openAccounts()
    {
        auto* section = m_window->pairedPage()
            ? qobject_cast<RuntimeSection*>(m_window->pairedPage()->section(PairedPage::Runtime))
            : nullptr;
        RuntimeCard* codex = section ? section->card(QStringLiteral("codex")) : nullptr;
        auto* button = m_window->findChild<QAbstractButton*>(QStringLiteral("runtime.codex.model"));
        if (!codex || !button)
            return std::nullopt;
        const auto opened = [codex] { return codex->providerSheet() && codex->providerSheet()->isVisible(); };
        const double worst = worstOver([button] { button->click(); }, opened, 1500);
        if (!opened())
            return std::nullopt;
        return worst;
    }

    bool holdBackCommands(QJsonArray& commands)
    {
        const std::optional<QByteArray> state = m_gateway.read(QStringLiteral("/_sim/state/ws-large"));
        commands = state ? QJsonDocument::fromJson(*state).object().value(QStringLiteral("commands")).toArray()
                         : QJsonArray {};
        return commands.size() >= m_size * 4 && setCommands({});
    }

    bool setCommands(const QJsonArray& commands)
    {
        return m_gateway.control("PATCH", QStringLiteral("/_sim/state/ws-large"),
            QJsonDocument(QJsonObject { { QStringLiteral("commands"), commands } }).toJson());
    }

    // The list with `m_size` running tasks arrives: the worst turn until every
    // one of them has been fetched once, then a minute (a quarter of one in a
    // smoke run) of the 5-second poll: the gaps between command-list reads
    // and the connections open to the gateway.
    std::optional<QJsonObject> measureRunning(const QJsonArray& commands)
    {
        auto* board = m_window->findChild<LiveTaskBoard*>(QStringLiteral("liveboard"));
        Status* status = m_window->controller()->status();
        if (!board || !board->isVisible())
            return fail("the live board is not shown");
        if (!status->commands().isEmpty())
            return fail("the command list came before the window had settled");
        QStringList running;
        for (const QJsonValue& c : commands) {
            if (c[QStringLiteral("status")].toString() == QLatin1String("claimed"))
                running.append(c[QStringLiteral("id")].toString());
        }
        // Counted where the board keeps them, so that the counting costs this thread little.
        const auto fetched = [&] {
            int n = 0;
            for (const QString& id : std::as_const(running)) {
                const TaskEvidenceModel* model = board->evidence(id);
                n += model && model->polls() > 0 ? 1 : 0;
            }
            return n;
        };
        const auto polls = [&] {
            qint64 n = 0;
            for (const QString& id : std::as_const(running)) {
                if (const TaskEvidenceModel* model = board->evidence(id))
                    n += model->polls();
            }
            return n;
        };
        if (!setCommands(commands))
            return fail("the stand-in's command list could not be given back");
        m_probe.reset();
        QElapsedTimer t;
        t.start();
        if (!waitUntil([&] { return fetched() >= m_size; }, 300000))
            return fail("the running tasks were not all fetched");
        const qint64 allFetchedMs = t.elapsed();
        spin(1000);
        const double arrive = m_probe.worstTurnMs();

        // The connections are counted on a thread of their own, so that the counting costs this one nothing.
        const int port = QUrl(m_gateway.origin()).port();
        std::atomic<bool> stop = false;
        std::atomic<int> most = 0;
        std::thread counter([&] {
            while (!stop) {
                most = std::max(most.load(), connectionsTo(port));
                std::this_thread::sleep_for(200ms);
            }
        });
        QList<qint64> reads;
        QElapsedTimer clock;
        clock.start();
        const QMetaObject::Connection reading
            = QObject::connect(status, &Status::commandsChanged, m_window, [&] { reads.append(clock.elapsed()); });
        const qint64 pollsBefore = polls();
        m_probe.reset();
        const qint64 stretch = m_seconds >= 6 ? 60000 : 15000;
        waitUntil([&] { return clock.elapsed() >= stretch; }, int(stretch) + 60000);
        QObject::disconnect(reading);
        const double polling = m_probe.worstTurnMs();
        // How often each running task was fetched, on average.
        const qint64 fetches = polls() - pollsBefore;
        const double every = fetches > 0 ? double(stretch) / 1000.0 * double(m_size) / double(fetches) : 0;
        stop = true;
        counter.join();
        // The longest stretch without a read, the ends of the minute included.
        qint64 gap = 0;
        qint64 last = 0;
        for (const qint64 at : std::as_const(reads)) {
            gap = std::max(gap, at - last);
            last = at;
        }
        gap = std::max(gap, stretch - last);
        std::fprintf(stderr,
            "scale: running at %lld: all fetched after %lld ms, %lld reads in %lld s, longest gap %lld ms, "
            "%d connections at most, each task fetched every %.1f s\n",
            static_cast<long long>(m_size), static_cast<long long>(allFetchedMs), static_cast<long long>(reads.size()),
            static_cast<long long>(stretch / 1000), static_cast<long long>(gap), most.load(), every);
        return QJsonObject { { QStringLiteral("turns"),
                                 QJsonObject {
                                     { QStringLiteral("arrive"), arrive }, { QStringLiteral("polling"), polling } } },
            { QStringLiteral("reads_per_minute"), double(reads.size()) * 60000.0 / double(stretch) },
            { QStringLiteral("longest_gap_ms"), double(gap) }, { QStringLiteral("connections"), most.load() },
            { QStringLiteral("fetched_every_s"), every } };
    }

    // ------------------------------------------------------------- scrolled to the end

    static qint64 rssKb() { return bench::procStatusKb(0, "VmRSS:"); }

    // Runs `action` as a turn of its own, then turns the event loop until `done`.
    static bool stepUntil(const std::function<void()>& action, const std::function<bool()>& done, int timeoutMs = 60000)
    {
        bool ran = false;
        QTimer::singleShot(0, QCoreApplication::instance(), [&ran, &action] {
            action();
            ran = true;
        });
        QElapsedTimer t;
        t.start();
        while (!(ran && done())) {
            if (t.elapsed() > timeoutMs)
                return false;
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
        return true;
    }

    // A key pressed where the keyboard is in `within`, else on `fallback`.
    static void press(QWidget* within, QWidget* fallback, Qt::Key key)
    {
        QWidget* focus = QApplication::focusWidget();
        QWidget* target = focus && within->isAncestorOf(focus) ? focus : fallback;
        QKeyEvent down(QEvent::KeyPress, key, Qt::NoModifier);
        QKeyEvent up(QEvent::KeyRelease, key, Qt::NoModifier);
        QCoreApplication::sendEvent(target, &down);
        QCoreApplication::sendEvent(target, &up);
    }

    // Pages `bar` to its end, one page a turn; the worst turn on the way.
    std::optional<double> pageToEnd(QScrollBar* bar, const std::function<void()>& page)
    {
        m_probe.reset();
        int pages = 0;
        while (bar->value() < bar->maximum()) {
            const int before = bar->value();
            if (!stepUntil(page, [&] { return bar->value() != before || bar->value() == bar->maximum(); }))
                return std::nullopt;
            ++pages;
        }
        std::fprintf(
            stderr, "scale: %s at %lld: %d pages\n", qPrintable(m_name), static_cast<long long>(m_size), pages);
        return m_probe.worstTurnMs();
    }

    std::optional<QJsonObject> scrolling(MainWindow& window)
    {
        m_window = &window;
        QJsonObject turns;
        QJsonObject rss;
        if (m_name == QLatin1String("approvals-scroll") && !scrollApprovals(turns, rss))
            return std::nullopt;
        if (m_name == QLatin1String("team-scroll") && !scrollTeam(turns, rss))
            return std::nullopt;
        if (m_name == QLatin1String("accounts-scroll") && !scrollAccounts(turns, rss))
            return std::nullopt;
        m_window = nullptr;
        QStringList steps;
        for (auto it = rss.constBegin(); it != rss.constEnd(); ++it)
            steps << QStringLiteral("%1 %2 MB").arg(it.key()).arg(it.value().toDouble() / 1024.0, 0, 'f', 1);
        std::fprintf(stderr, "scale: %s at %lld: RSS %s\n", qPrintable(m_name), static_cast<long long>(m_size),
            qPrintable(steps.join(QStringLiteral(", "))));
        // Its growth with the size is the first screen's: after scrolling it is held to that plus a bound.
        return QJsonObject { { QStringLiteral("turns"), turns },
            { QStringLiteral("rss_kb"), rss.isEmpty() ? rssKb() : rss.begin()->toDouble() },
            { QStringLiteral("rss_steps"), rss } };
    }

    bool scrollApprovals(QJsonObject& turns, QJsonObject& rss)
    {
        MainWindow& window = *m_window;
        const auto opened = [&] { return window.approvalsSheet() && window.approvalsSheet()->isVisible(); };
        turns.insert(QStringLiteral("open"), worstOver([&] { window.openApprovals(); }, opened, 1500));
        QPointer<ApprovalsSheet> sheet = window.approvalsSheet();
        auto* area = sheet ? sheet->findChild<QScrollArea*>() : nullptr;
        if (!area || sheet->rows()->keys().size() < m_size)
            return failed("the sheet did not open with every item");
        rss.insert(QStringLiteral("1 open"), rssKb());
        QScrollBar* bar = area->verticalScrollBar();
        LazyRows* rows = sheet->rows();
        sheet->activateWindow();
        waitUntil([&] { return sheet->isActiveWindow(); }, 5000);
        if (QWidget* first = rows->row(rows->keys().first()))
            if (auto* button = first->findChild<QAbstractButton*>())
                button->setFocus(Qt::TabFocusReason);

        // End from the first row, to the last.
        m_probe.reset();
        if (!stepUntil([&] { press(sheet, rows, Qt::Key_End); }, [&] { return bar->value() == bar->maximum(); }))
            return failed("End did not reach the end");
        turns.insert(QStringLiteral("end"), m_probe.worstTurnMs());
        rss.insert(QStringLiteral("2 end"), rssKb());
        if (!stepUntil([&] { press(sheet, rows, Qt::Key_Home); }, [&] { return bar->value() == 0; }))
            return failed("Home did not reach the top");

        // PageDown, page by page.
        const std::optional<double> paged = pageToEnd(bar, [&] { press(sheet, rows, Qt::Key_PageDown); });
        if (!paged)
            return failed("PageDown stopped before the end");
        turns.insert(QStringLiteral("pagedown"), *paged);
        rss.insert(QStringLiteral("3 pagedown"), rssKb());

        const std::optional<double> polls = pollWithChanges();
        if (!polls)
            return failed("the feed could not be changed");
        turns.insert(QStringLiteral("poll"), *polls);
        rss.insert(QStringLiteral("4 poll"), rssKb());

        m_probe.reset();
        if (!stepUntil([&] { sheet->reject(); }, [&] { return sheet.isNull(); }))
            return failed("the sheet did not close");
        // The memory freed goes back to the system on the pool, from the turns after.
        for (int i = 0; i < 3; ++i)
            QCoreApplication::processEvents();
        turns.insert(QStringLiteral("close"), m_probe.worstTurnMs());
        QThreadPool::globalInstance()->waitForDone(30000);
        rss.insert(QStringLiteral("5 closed"), rssKb());
        return true;
    }

    bool scrollTeam(QJsonObject& turns, QJsonObject& rss)
    {
        auto* team = m_window->findChild<TeamSection*>();
        if (!team
            || !waitUntil(
                [&] { return team->grid()->keys().size() >= m_size && team->grid()->lazyRows()->madeCount() > 0; },
                60000))
            return failed("the team did not come");
        rss.insert(QStringLiteral("1 first screen"), rssKb());
        QScrollBar* bar = m_window->scrollArea()->verticalScrollBar();
        const std::optional<double> paged
            = pageToEnd(bar, [bar] { bar->triggerAction(QAbstractSlider::SliderPageStepAdd); });
        if (!paged)
            return failed("the page did not scroll to its end");
        turns.insert(QStringLiteral("scroll"), *paged);
        rss.insert(QStringLiteral("2 end"), rssKb());
        return true;
    }

    bool scrollAccounts(QJsonObject& turns, QJsonObject& rss)
    {
        const std::optional<double> open = openAccounts();
        if (!open)
            return failed("the model sheet did not open");
        turns.insert(QStringLiteral("open"), *open);
        rss.insert(QStringLiteral("1 open"), rssKb());
        auto* section = qobject_cast<RuntimeSection*>(m_window->pairedPage()->section(PairedPage::Runtime));
        ModelProviderSheet* sheet = section->card(QStringLiteral("codex"))->providerSheet();
        auto* area = sheet ? sheet->findChild<QScrollArea*>() : nullptr;
        if (!area)
            return failed("the model sheet has no scrolling part");
        QScrollBar* bar = area->verticalScrollBar();
        const std::optional<double> paged
            = pageToEnd(bar, [bar] { bar->triggerAction(QAbstractSlider::SliderPageStepAdd); });
        if (!paged)
            return failed("the model sheet did not scroll to its end");
        turns.insert(QStringLiteral("scroll"), *paged);
        rss.insert(QStringLiteral("2 end"), rssKb());
        return true;
    }

    bool failed(const char* why)
    {
        m_failure = why;
        return false;
    }

    const char* m_failure = "";
    QString m_name;
    qint64 m_size;
    int m_seconds;
    bench::ScratchHome& m_home;
    bench::StandInGateway m_gateway;
    MainWindow* m_window = nullptr;
    int m_polls = 0;
    StallProbe m_probe;
};

int measureOne(const QCommandLineParser& parser, const QCommandLineOption& caseOption,
    const QCommandLineOption& sizeOption, const QCommandLineOption& secondsOption,
    const QCommandLineOption& resultOption, bench::ScratchHome& home)
{
    Measurement m(parser.value(caseOption), parser.value(sizeOption).toLongLong(),
        std::max(1, parser.value(secondsOption).toInt()), home);
    const std::optional<QJsonObject> result = m.run();
    if (!result)
        return 1;
    QFile out(parser.value(resultOption));
    return out.open(QIODevice::WriteOnly) && out.write(QJsonDocument(*result).toJson()) > 0 ? 0 : 1;
}

// ----------------------------------------------------------------- the driver

std::optional<QJsonObject> measureChild(const Case& c, qint64 size, int seconds, const QString& resultPath)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedChannels);
    p.start(QCoreApplication::applicationFilePath(),
        { QStringLiteral("--case"), QLatin1String(c.name), QStringLiteral("--size"), QString::number(size),
            QStringLiteral("--seconds"), QString::number(seconds), QStringLiteral("--result"), resultPath });
    if (!p.waitForFinished(-1) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return std::nullopt;
    QFile in(resultPath);
    if (!in.open(QIODevice::ReadOnly))
        return std::nullopt;
    return QJsonDocument::fromJson(in.readAll()).object();
}

// Running tasks arriving at a floor, at 250 and at 1,000 (smoke: 50 and 200),
// each in a fresh process.
bool runningFigures(QTemporaryDir& work, bool smoke, QList<bench::Figure>& figures)
{
    const Case running { "running", [](qint64 n) { return count(n) + QStringLiteral(" running tasks"); }, 10, 1000, 200,
        {} };
    const qint64 sizes[3] = { running.floorSize, smoke ? 50 : 250, smoke ? running.smokeSize : running.fullSize };
    QJsonObject results[3];
    for (int i = 0; i < 3; ++i) {
        std::fprintf(stderr, "scale: running at %lld\n", static_cast<long long>(sizes[i]));
        const std::optional<QJsonObject> r
            = measureChild(running, sizes[i], smoke ? 2 : 6, work.filePath(QStringLiteral("result.json")));
        if (!r) {
            std::fprintf(stderr, "scale: running at %lld failed\n", static_cast<long long>(sizes[i]));
            return false;
        }
        results[i] = *r;
    }
    const QString floor = QStringLiteral(" (floor ") + running.what(sizes[0]) + QStringLiteral("): ");
    const auto turn
        = [&](int i, const char* key) { return results[i][QStringLiteral("turns")][QLatin1String(key)].toDouble(); };
    for (int i = 1; i < 3; ++i) {
        const double ours = turn(i, "arrive");
        figures.append({ running.what(sizes[i]) + floor + QStringLiteral("the list arrives"), ours, turn(0, "arrive"),
            bench::ratioOf(ours, turn(0, "arrive")), QStringLiteral("< 50 ms turn"), QStringLiteral("ms"), ours < 50 });
    }
    const QString full = running.what(sizes[2]) + floor;
    figures.append({ full + (smoke ? QStringLiteral("polling for 15 s") : QStringLiteral("polling for a minute")),
        turn(2, "polling"), turn(0, "polling"), bench::ratioOf(turn(2, "polling"), turn(0, "polling")),
        QStringLiteral("< 50 ms turn"), QStringLiteral("ms"), turn(2, "polling") < 50 });
    const auto value = [&](int i, const char* key) { return results[i][QLatin1String(key)].toDouble(); };
    figures.append({ full + QStringLiteral("command-list reads a minute"), value(2, "reads_per_minute"),
        value(0, "reads_per_minute"), bench::ratioOf(value(2, "reads_per_minute"), value(0, "reads_per_minute")),
        QStringLiteral(">= 10 a minute"), QStringLiteral("reads"), value(2, "reads_per_minute") >= 10 });
    figures.append({ full + QStringLiteral("longest stretch without a command-list read"), value(2, "longest_gap_ms"),
        value(0, "longest_gap_ms"), bench::ratioOf(value(2, "longest_gap_ms"), value(0, "longest_gap_ms")),
        QStringLiteral("<= 6,000 ms"), QStringLiteral("ms"), value(2, "longest_gap_ms") <= 6000 });
    // The gate's places, status reads' and polls' clients each keeping their own connections.
    const int bound = RequestGate::kInFlight + RequestGate::kPollSlots;
    figures.append({ full + QStringLiteral("connections open to the gateway at most"), value(2, "connections"),
        value(0, "connections"), bench::ratioOf(value(2, "connections"), value(0, "connections")),
        QStringLiteral("<= %1").arg(bound), QStringLiteral("connections"), value(2, "connections") <= bound });
    return true;
}

int drive(const QString& figuresPath, bool smoke)
{
    QTemporaryDir work;
    if (!work.isValid())
        return 1;
    const int seconds = smoke ? 2 : 6;
    QList<bench::Figure> figures;
    for (const Case& c : cases()) {
        const qint64 full = smoke ? c.smokeSize : c.fullSize;
        const qint64 sizes[3] = { c.floorSize, full / 2, full };
        QJsonObject results[3];
        for (int i = 0; i < 3; ++i) {
            std::fprintf(stderr, "scale: %s at %lld\n", c.name, static_cast<long long>(sizes[i]));
            const std::optional<QJsonObject> r
                = measureChild(c, sizes[i], seconds, work.filePath(QStringLiteral("result.json")));
            if (!r) {
                std::fprintf(stderr, "scale: %s at %lld failed\n", c.name, static_cast<long long>(sizes[i]));
                return 1;
            }
            results[i] = *r;
        }
        const QString what = c.what(full) + QStringLiteral(" (floor ") + c.what(c.floorSize) + QStringLiteral("): ");
        for (const Phase& phase : c.phases) {
            const double ours = results[2][QStringLiteral("turns")][QLatin1String(phase.key)].toDouble();
            const double floor = results[0][QStringLiteral("turns")][QLatin1String(phase.key)].toDouble();
            figures.append({ what + QString::fromUtf8(phase.label), ours, floor, bench::ratioOf(ours, floor),
                QStringLiteral("< %1 ms turn").arg(phase.limitMs), QStringLiteral("ms"), ours < phase.limitMs });
        }
        // The resident size grows no faster than the size: from half to full, at most twice as
        // much (with a little room for the allocator's rounding).
        double rssMb[3];
        for (int i = 0; i < 3; ++i)
            rssMb[i] = results[i][QStringLiteral("rss_kb")].toDouble() / 1024.0;
        std::fprintf(stderr, "scale: %s RSS %.1f / %.1f / %.1f MB at %lld / %lld / %lld\n", c.name, rssMb[0], rssMb[1],
            rssMb[2], static_cast<long long>(sizes[0]), static_cast<long long>(sizes[1]),
            static_cast<long long>(sizes[2]));
        if (results[2].contains(QStringLiteral("rss_steps"))) {
            // Scrolled to the end, the window holds about what its first screen did.
            const auto overFirst = [](const QJsonObject& result) {
                // The steps in order: the first screen, then the ones scrolled to the end.
                const QJsonObject steps = result[QStringLiteral("rss_steps")].toObject();
                const double first = steps.begin() == steps.end() ? 0 : steps.begin()->toDouble();
                double most = first;
                for (auto it = steps.begin(); it != steps.end(); ++it) {
                    if (it.key().startsWith(QLatin1Char('2')) || it.key().startsWith(QLatin1Char('3')))
                        most = std::max(most, it.value().toDouble());
                }
                return (most - first) / 1024.0;
            };
            const double ours = overFirst(results[2]);
            const double floor = overFirst(results[0]);
            figures.append({ QStringLiteral("RSS over the first screen's, ") + c.what(full), ours, floor,
                bench::ratioOf(ours, floor), QStringLiteral("<= 50 MB"), QStringLiteral("MB"), ours <= 50 });
        }
        const double grownFull = rssMb[2] - rssMb[0];
        const double grownHalf = rssMb[1] - rssMb[0];
        figures.append({ QStringLiteral("RSS growth over the floor, ") + c.what(full) + QStringLiteral(" vs half"),
            grownFull, grownHalf, bench::ratioOf(grownFull, grownHalf), QStringLiteral("<= 2x half + 4 MB"),
            QStringLiteral("MB"), grownFull <= 2 * std::max(0.0, grownHalf) + 4 });
    }
    if (!runningFigures(work, smoke, figures))
        return 1;
    return bench::writeFigures(figuresPath, figures) ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    bench::ScratchHome home;
    if (!home.ok()) {
        std::fprintf(stderr, "scale: no scratch home\n");
        return 1;
    }
    home.enter(QString(), true);
    QApplication app(argc, argv);
    bench::nameApplication();

    QCommandLineParser parser;
    const QCommandLineOption figuresOption(
        QStringLiteral("figures"), QStringLiteral("run every case, write the figures here"), QStringLiteral("file"));
    const QCommandLineOption smokeOption(QStringLiteral("smoke"), QStringLiteral("smaller sizes, short windows"));
    const QCommandLineOption caseOption(
        QStringLiteral("case"), QStringLiteral("measure one case"), QStringLiteral("name"));
    const QCommandLineOption sizeOption(QStringLiteral("size"), QStringLiteral("its size"), QStringLiteral("n"));
    const QCommandLineOption secondsOption(QStringLiteral("seconds"), QStringLiteral("length of a measured stretch"),
        QStringLiteral("s"), QStringLiteral("6"));
    const QCommandLineOption resultOption(
        QStringLiteral("result"), QStringLiteral("where one measurement goes"), QStringLiteral("file"));
    parser.addOptions({ figuresOption, smokeOption, caseOption, sizeOption, secondsOption, resultOption });
    parser.addHelpOption();
    parser.process(app);

    if (parser.isSet(caseOption)) {
        // The key store answers at once: the model sheet's key lookups are not what is measured.
        SecretStore::setShared(std::make_unique<MemorySecretStore>());
        const int code = measureOne(parser, caseOption, sizeOption, secondsOption, resultOption, home);
        SecretStore::setShared(nullptr);
        return code;
    }
    if (!parser.isSet(figuresOption)) {
        std::fprintf(stderr, "scale: --figures or --case\n");
        return 1;
    }
    return drive(parser.value(figuresOption), parser.isSet(smokeOption));
}

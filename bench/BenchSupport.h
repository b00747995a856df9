#pragma once

#include "core/gateway/CLIConfig.h"

#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QTemporaryDir>

#include <functional>
#include <optional>

// What the benchmarks share: one figure of the table, the clocks and /proc
// readings they measure with, the stand-in gateway and a scratch home.
namespace bench {

// One line of the table: our measurement beside its floor, measured in the
// same run. `ratio` is none where the floor is zero or has no meaning.
struct Figure {
    QString figure;
    double ours = 0;
    double floor = 0;
    std::optional<double> ratio;
    QString target;
    QString unit;
    bool met = false;

    QJsonObject toJson() const;
    static Figure fromJson(const QJsonObject& object);
};

// ours / floor, none when the floor is not positive.
std::optional<double> ratioOf(double ours, double floor);

// A child benchmark hands its figures to the driver in a file (a JSON list).
bool writeFigures(const QString& path, const QList<Figure>& figures);
std::optional<QList<Figure>> readFigures(const QString& path);

// CLOCK_MONOTONIC in nanoseconds: one clock for every process of this machine.
qint64 monotonicNs();
double median(QList<double> values);
// The smallest value (0 for none): the round the rest of the machine disturbed least.
double fastest(const QList<double>& values);

// The application's organisation and name, as its main() sets them (its settings file follows them).
void nameApplication();

// Runs the event loop for `ms`.
void spin(int ms);
// Runs the event loop until `done` holds (true) or for `timeoutMs` (false).
bool waitUntil(const std::function<bool()>& done, int timeoutMs);

// A field of /proc/<pid>/status in kB (pid 0: this process); -1 when unreadable.
qint64 procStatusKb(qint64 pid, const char* field);
// User plus system CPU time of a process so far, in milliseconds; none when unreadable.
std::optional<double> cpuMs(qint64 pid);

// The stand-ins built beside the benchmarks.
QString gatewaySim();
QString companionSim();

// The stand-in gateway in a child process, on a free loopback port, killed
// when the object goes.
class StandInGateway {
public:
    StandInGateway() = default;
    ~StandInGateway();
    StandInGateway(const StandInGateway&) = delete;
    StandInGateway& operator=(const StandInGateway&) = delete;

    // Starts it with the scenario; false (and a message on standard error) when it does not listen.
    bool start(const QString& scenarioPath);
    QString origin() const { return m_origin; }
    // A request to its control API (/_sim/…), answered 2xx; blocking, so call it
    // from a thread that is not measured. Safe from any thread.
    bool control(const char* method, const QString& path, const QByteArray& body = {}) const;
    // The body of a GET on the control API; none unless answered 200.
    std::optional<QByteArray> read(const QString& path) const;

    // Writes the large scenario (2,000 commands, 60 employees, 300 feed items) to the path.
    static bool generateLarge(const QString& path);
    // The scenario the demo shows.
    static QString demoScenario();

private:
    QProcess m_process;
    QString m_origin;
};

// The large workspace of the generated scenario and the demo's.
CLIConfig largeWorkspace(const QString& origin);
CLIConfig demoWorkspace(const QString& origin);

// A throwaway home: the pairing files of one workspace (with an existing
// project folder), the stand-in companion tool where the application looks
// for it, and a steering folder for it.
class ScratchHome {
public:
    ScratchHome();
    bool ok() const { return m_dir.isValid(); }
    QString path() const { return m_dir.path(); }
    // The folder the stand-in tool reads its steering files from (BRENLOW_SIM_DIR).
    QString steeringDir() const;
    // Writes the workspace's pairing files (and makes it the current one);
    // its folder is created under the home. Returns the configuration written.
    CLIConfig pair(CLIConfig config) const;
    // One steering file for the stand-in tool.
    void steer(const QString& name, const QByteArray& content) const;
    // The environment of a process living in this home, talking to `gateway`;
    // the stand-in tool is steered only when `steered`.
    QProcessEnvironment environment(const QString& gateway, bool steered) const;
    // The same, applied to this process.
    void enter(const QString& gateway, bool steered) const;

private:
    QTemporaryDir m_dir;
};

} // namespace bench

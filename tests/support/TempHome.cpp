#include "TempHome.h"

#include "core/platform/DeskCrumbs.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

TempHome::TempHome()
{
    Q_ASSERT(m_dir.isValid());
    m_oldHome = qgetenv("HOME");
    m_hadXdg = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");
    m_oldXdg = qgetenv("XDG_CONFIG_HOME");
    m_hadTolvarineHome = qEnvironmentVariableIsSet("TOLVARINE_HOME");
    m_oldTolvarineHome = qgetenv("TOLVARINE_HOME");

    const QByteArray home = QFile::encodeName(m_dir.path());
    const QString config = m_dir.path() + QStringLiteral("/.config");
    QDir().mkpath(config);
    qputenv("HOME", home);
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config));
    qunsetenv("TOLVARINE_HOME");
    if (QCoreApplication::organizationName().isEmpty())
        QCoreApplication::setOrganizationName(QStringLiteral("Tolvarine"));
    if (QCoreApplication::applicationName().isEmpty()
        || QCoreApplication::applicationName() == QFileInfo(QCoreApplication::applicationFilePath()).fileName())
        QCoreApplication::setApplicationName(QStringLiteral("Tolvarine Desktop"));
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, config);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, config);
}

TempHome::~TempHome()
{
    qputenv("HOME", m_oldHome);
    if (m_hadXdg)
        qputenv("XDG_CONFIG_HOME", m_oldXdg);
    else
        qunsetenv("XDG_CONFIG_HOME");
    if (m_hadTolvarineHome)
        qputenv("TOLVARINE_HOME", m_oldTolvarineHome);
    else
        qunsetenv("TOLVARINE_HOME");
}

QString TempHome::filePath(const QString& relative) const
{
    return QDir(m_dir.path()).filePath(relative);
}

QString TempHome::writeFile(const QString& relative, const QByteArray& content) const
{
    const QString p = filePath(relative);
    QDir().mkpath(QFileInfo(p).absolutePath());
    QFile f(p);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(content);
    return p;
}

QString TempHome::crumbs()
{
    QFile f(DeskCrumbs::logPath());
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

QString TempHome::writeScript(const QString& relative, const QByteArray& body) const
{
    const QString p = writeFile(relative, "#!/bin/sh\n" + body + "\n");
    QFile::setPermissions(p, QFile::permissions(p) | QFileDevice::ExeOwner | QFileDevice::ExeUser);
    return p;
}

QString TempHome::installTool(const QString& source, const QString& name) const
{
    const QString dir = filePath(QStringLiteral(".local/bin"));
    QDir().mkpath(dir);
    const QString target = dir + QLatin1Char('/') + name;
    QFile::remove(target);
    QFile::link(source, target);
    return target;
}

namespace Sim {
QString companion()
{
    return QStringLiteral(TOLVARINE_SIM_BIN_DIR "/brenlow");
}
QString gateway()
{
    return QStringLiteral(TOLVARINE_SIM_BIN_DIR "/tolvarine-gateway-sim");
}
QString scenario(const QString& name)
{
    return QStringLiteral(TOLVARINE_SCENARIO_DIR "/") + name;
}
} // namespace Sim

#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

// A fresh home for one test: HOME and XDG_CONFIG_HOME point into a temporary
// folder, TOLVARINE_HOME is unset and QSettings write there. The previous
// environment comes back when the fixture goes.
class TempHome {
public:
    TempHome();
    ~TempHome();
    TempHome(const TempHome&) = delete;
    TempHome& operator=(const TempHome&) = delete;

    QString path() const { return m_dir.path(); }
    // A path inside the home.
    QString filePath(const QString& relative) const;
    // Writes a file inside the home, creating folders; returns its path.
    QString writeFile(const QString& relative, const QByteArray& content) const;
    // Writes an executable shell script (`body` after a #!/bin/sh line); returns its path.
    QString writeScript(const QString& relative, const QByteArray& body) const;

    // Puts an executable (a link to `source`) where the companion-tool runner
    // looks for it: ~/.local/bin/<name>. Returns the installed path.
    QString installTool(const QString& source, const QString& name = QStringLiteral("brenlow")) const;

    // The breadcrumb log written so far, empty when there is none.
    static QString crumbs();

private:
    QTemporaryDir m_dir;
    QByteArray m_oldHome;
    QByteArray m_oldXdg;
    QByteArray m_oldTolvarineHome;
    bool m_hadXdg = false;
    bool m_hadTolvarineHome = false;
};

// Paths of the stand-ins built with the tests.
namespace Sim {
QString companion(); // the stand-in `brenlow`
QString gateway(); // tolvarine-gateway-sim
QString scenario(const QString& name); // sim/scenarios/<name>
} // namespace Sim

#pragma once

#include <QCoroTask>
#include <QList>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

class QWidget;

// Alerts and folder pickers. Views ask through Prompts::shared(); tests put in
// ScriptedPrompts, which answers at once from a script and records what was asked.
class Prompts {
public:
    enum class Style { Informational, Warning, Critical };

    struct Alert {
        QString message;
        QString informative;
        QStringList buttons; // in order; the first one confirms
        Style style = Style::Warning;
        // The button Return presses. An alert whose confirmation cannot be
        // taken back makes it a cancelling one, so that no stray key confirms.
        int defaultButton = 0;
    };

    virtual ~Prompts() = default;

    // The index of the button that ended the alert; -1 when it was dismissed otherwise.
    virtual QCoro::Task<int> alert(QWidget* parent, Alert alert) = 0;
    // A folder the user chose, or none when cancelled. `prompt` is the confirm
    // button's title; the picker opens in `startDir`; `message`, when given,
    // says what to choose.
    virtual QCoro::Task<std::optional<QString>> pickFolder(
        QWidget* parent, QString prompt, QString startDir, QString message = QString())
        = 0;

    // Asks `alert` through shared() and answers whether its first (confirming)
    // button ended it; any other button, or a dismissal, is a no.
    static QCoro::Task<bool> confirm(QWidget* parent, Alert alert);

    static Prompts& shared();
    // Null restores the dialogs.
    static void setShared(std::unique_ptr<Prompts> prompts);
};

// Window-modal QMessageBox and QFileDialog, opened with open() and awaited.
class QtPrompts final : public Prompts {
public:
    QCoro::Task<int> alert(QWidget* parent, Alert alert) override;
    QCoro::Task<std::optional<QString>> pickFolder(
        QWidget* parent, QString prompt, QString startDir, QString message = QString()) override;
};

// Answers from a script, for tests. An alert with no scripted answer is
// dismissed (-1); a folder request with none is cancelled.
class ScriptedPrompts final : public Prompts {
public:
    // A scripted answer that presses Return: the alert's default button.
    static constexpr int pressReturn = -2;

    QCoro::Task<int> alert(QWidget* parent, Alert alert) override;
    QCoro::Task<std::optional<QString>> pickFolder(
        QWidget* parent, QString prompt, QString startDir, QString message = QString()) override;

    QList<int> alertAnswers;
    QList<std::optional<QString>> folderAnswers;
    QList<Alert> alertsShown;
    QStringList folderPrompts;
    QStringList folderStartDirs;
    QStringList folderMessages;
};

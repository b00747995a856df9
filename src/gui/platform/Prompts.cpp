#include "gui/platform/Prompts.h"

#include <QCoroFuture>
#include <QFileDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPromise>
#include <QPushButton>
#include <QScreen>
#include <QTextBoundaryFinder>

#include <algorithm>

namespace {
// A future that gets the dialog's result when it finishes (or -1 when the
// dialog goes away first), so that the caller can await it.
QFuture<int> finishedOf(QDialog* dialog)
{
    auto promise = std::make_shared<QPromise<int>>();
    promise->start();
    auto settled = std::make_shared<bool>(false);
    auto settle = [promise, settled](int result) {
        if (*settled)
            return;
        *settled = true;
        promise->addResult(result);
        promise->finish();
    };
    QObject::connect(dialog, &QDialog::finished, dialog, settle);
    QObject::connect(dialog, &QObject::destroyed, [settle] { settle(-1); });
    return promise->future();
}

// Chinese may break between any two characters, so a box sized by its
// shortest line would wrap its explanation every few characters: it gets
// lines of about kReadingCharacters, less when the text is shorter or the
// screen narrower.
constexpr int kReadingCharacters = 26;

int readingWidth(const QLabel* label, const QString& text, const QWidget* parent)
{
    const QFontMetrics metrics(label->font());
    int widest = 0;
    for (const QString& line : text.split(QLatin1Char('\n')))
        widest = qMax(widest, metrics.horizontalAdvance(line) + 1);
    const int reading = metrics.horizontalAdvance(QString(kReadingCharacters, QChar(0x5B57)));
    const QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen();
    // The icon, the margins and the window's frame beside it.
    const int room = screen ? screen->availableGeometry().width() - 160 : reading;
    return qMax(0, std::min({ widest, reading, room }));
}

// Qt's labels wrap between words only: a run with no break point that is
// wider than the box (a path, an error code) would be cut at its edge. Such a
// run gets a zero-width break every few characters, between two of them.
QString breakable(const QString& text)
{
    constexpr int kRun = 16;
    QTextBoundaryFinder characters(QTextBoundaryFinder::Grapheme, text);
    QTextBoundaryFinder lines(QTextBoundaryFinder::Line, text);
    QString out;
    out.reserve(text.size() + text.size() / kRun);
    qsizetype from = 0;
    int run = 0; // characters since the last break point
    for (qsizetype at = characters.toNextBoundary(); at > 0; at = characters.toNextBoundary()) {
        out += QStringView(text).sliced(from, at - from);
        from = at;
        lines.setPosition(at);
        if (lines.isAtBoundary() || text.at(at - 1) == QLatin1Char('\n'))
            run = 0;
        else if (++run >= kRun && at < text.size()) {
            out += QChar(0x200B);
            run = 0;
        }
    }
    return out;
}

std::unique_ptr<Prompts>& sharedPrompts()
{
    static std::unique_ptr<Prompts> prompts;
    return prompts;
}
} // namespace

Prompts& Prompts::shared()
{
    auto& p = sharedPrompts();
    if (!p)
        p = std::make_unique<QtPrompts>();
    return *p;
}

void Prompts::setShared(std::unique_ptr<Prompts> prompts)
{
    sharedPrompts() = std::move(prompts);
}

QCoro::Task<bool> Prompts::confirm(QWidget* parent, Alert alert)
{
    auto ask = shared().alert(parent, std::move(alert));
    const int answer = co_await std::move(ask);
    co_return answer == 0;
}

QCoro::Task<int> QtPrompts::alert(QWidget* parent, Alert alert)
{
    QPointer<QMessageBox> box = new QMessageBox(parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    box->setText(breakable(alert.message));
    box->setInformativeText(breakable(alert.informative));
    box->setTextFormat(Qt::PlainText);
    // setTextFormat() reaches only the main text; the informative line has its
    // own label, which would otherwise take markup (and open links) in it.
    if (auto* informative = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel"))) {
        informative->setTextFormat(Qt::PlainText);
        informative->setMinimumWidth(readingWidth(informative, alert.informative, parent));
    }
    switch (alert.style) {
    case Style::Informational:
        box->setIcon(QMessageBox::Information);
        break;
    case Style::Warning:
        box->setIcon(QMessageBox::Warning);
        break;
    case Style::Critical:
        box->setIcon(QMessageBox::Critical);
        break;
    }
    QList<QAbstractButton*> buttons;
    for (int i = 0; i < alert.buttons.size(); ++i) {
        // The first button confirms, the last one of two or more cancels.
        const auto role = (i == 0)            ? QMessageBox::AcceptRole
            : (i == alert.buttons.size() - 1) ? QMessageBox::RejectRole
                                              : QMessageBox::ActionRole;
        buttons << box->addButton(alert.buttons.at(i), role);
    }
    if (alert.defaultButton >= 0 && alert.defaultButton < buttons.size())
        box->setDefaultButton(qobject_cast<QPushButton*>(buttons.at(alert.defaultButton)));
    // The box deletes itself (and its buttons) before the caller resumes, so
    // the index is taken while the click is delivered.
    auto clicked = std::make_shared<int>(-1);
    QObject::connect(box.data(), &QMessageBox::buttonClicked, box.data(),
        [clicked, buttons](QAbstractButton* b) { *clicked = static_cast<int>(buttons.indexOf(b)); });
    box->open();
    QFuture<int> finished = finishedOf(box.data());
    co_await finished;
    co_return *clicked;
}

QCoro::Task<std::optional<QString>> QtPrompts::pickFolder(
    QWidget* parent, QString prompt, QString startDir, QString message)
{
    // The dialog has no message line of its own; its title says what to choose.
    QPointer<QFileDialog> dialog = new QFileDialog(parent, message, startDir);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly, true);
    dialog->setLabelText(QFileDialog::Accept, prompt);
    dialog->setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    auto chosen = std::make_shared<QStringList>();
    QObject::connect(dialog.data(), &QFileDialog::filesSelected, dialog.data(),
        [chosen](const QStringList& files) { *chosen = files; });
    dialog->open();
    QFuture<int> finished = finishedOf(dialog.data());
    const int result = co_await finished;
    if (result != QDialog::Accepted || chosen->isEmpty())
        co_return std::nullopt;
    co_return chosen->first();
}

QCoro::Task<int> ScriptedPrompts::alert(QWidget*, Alert alert)
{
    alertsShown << alert;
    const int answer = alertAnswers.isEmpty() ? -1 : alertAnswers.takeFirst();
    co_return answer == pressReturn ? alert.defaultButton : answer;
}

QCoro::Task<std::optional<QString>> ScriptedPrompts::pickFolder(
    QWidget*, QString prompt, QString startDir, QString message)
{
    folderPrompts << prompt;
    folderStartDirs << startDir;
    folderMessages << message;
    co_return folderAnswers.isEmpty() ? std::nullopt : folderAnswers.takeFirst();
}

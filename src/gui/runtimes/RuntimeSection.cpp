#include "gui/runtimes/RuntimeSection.h"

#include "core/design/DS.h"
#include "core/design/DSFont.h"
#include "core/runtimes/RuntimeSectionModel.h"
#include "gui/agents/AdvancedAccessSection.h"
#include "gui/design/AdaptiveColumns.h"
#include "gui/design/BusyIndicator.h"
#include "gui/design/DSText.h"
#include "gui/design/ErrorBanner.h"
#include "gui/design/SecondaryButton.h"
#include "gui/design/SectionHeader.h"
#include "gui/design/SkeletonCards.h"
#include "gui/design/Style.h"
#include "gui/runtimes/RuntimeCard.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QShowEvent>
#include <QTextCursor>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr int kMinItem = 340;
constexpr int kSpacing = 10;
constexpr int kSkeletonCount = 4;
constexpr int kLogHeight = 110;
// Lines arriving within this long of each other reach the log together.
constexpr int kLogCoalesceMs = 50;

} // namespace

RuntimeSection::RuntimeSection(RuntimeSectionModel* model, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
{
    setObjectName(QStringLiteral("runtime.section"));
    setAccessibleName(QStringLiteral("Agent Runtime"));
    m_stack = new QVBoxLayout(this);
    m_stack->setContentsMargins(0, 0, 0, 0);
    m_stack->setSpacing(10);

    auto* trailing = new QWidget(this);
    auto* trailingRow = new QHBoxLayout(trailing);
    trailingRow->setContentsMargins(0, 0, 0, 0);
    m_spinner = new BusyIndicator(DS::muted(0.7), 14, trailing);
    m_spinner->setObjectName(QStringLiteral("runtime.loading"));
    m_refresh = new SecondaryButton(
        QStringLiteral("重新检测"), QStringLiteral("runtime.refresh"), [this] { m_model->refresh(); }, trailing);
    trailingRow->addWidget(m_spinner, 0, Qt::AlignVCenter);
    trailingRow->addWidget(m_refresh);
    m_stack->addWidget(new SectionHeader(QStringLiteral("Agent Runtime"),
        QStringLiteral("这台电脑上的全部 Runtime。它们按工作区隔离，可以同时跑多家。"), trailing, this));

    m_error = new ErrorBanner(
        QStringLiteral("读不到这台电脑上的 Runtime 清单。"), std::nullopt, QStringLiteral("runtime.error"), this);
    m_error->hide();
    m_stack->addWidget(m_error);

    m_counts = DSText::label(QString(), DSFont::medium(11.5), DS::muted(0.5), this);
    m_counts->setObjectName(QStringLiteral("runtime.counts"));
    m_stack->addWidget(m_counts);

    // The placeholders, when shown, go in just above the grid.
    m_grid = new AdaptiveColumns(kMinItem, kSpacing, this);
    m_grid->setObjectName(QStringLiteral("runtime.grid"));
    m_stack->addWidget(m_grid);

    m_advanced = new AdvancedAccessSection(model->advanced(), this);
    m_stack->addWidget(m_advanced);

    m_log = new QPlainTextEdit(this);
    m_log->setObjectName(QStringLiteral("runtime.log"));
    m_log->setReadOnly(true);
    // Fed line by line for as long as a worker prints: an undo history would
    // keep every line ever shown.
    m_log->setUndoRedoEnabled(false);
    m_log->setFont(DSFont::monoMedium(10.5));
    m_log->setFixedHeight(kLogHeight);
    m_log->setStyleSheet(Style::logView());
    m_log->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    m_log->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_log->setFrameShape(QFrame::NoFrame);
    m_log->hide();
    m_stack->addWidget(m_log);

    m_logTimer = new QTimer(this);
    m_logTimer->setSingleShot(true);
    m_logTimer->setInterval(kLogCoalesceMs);
    connect(m_logTimer, &QTimer::timeout, this, &RuntimeSection::refreshLog);

    connect(m_model, &RuntimeSectionModel::changed, this, &RuntimeSection::refresh);
    connect(m_model, &RuntimeSectionModel::logChanged, this, &RuntimeSection::logChanged);
    refresh();
    refreshLog();
}

SkeletonCards* RuntimeSection::skeleton() const
{
    return m_skeleton;
}

RuntimeCard* RuntimeSection::card(const QString& kind) const
{
    return qobject_cast<RuntimeCard*>(m_grid->cell(kind));
}

void RuntimeSection::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // What came while it was off screen.
    if (m_logStale)
        refreshLog();
    // Coming on screen, not a window coming back from the task bar.
    if (!event->spontaneous())
        m_model->sectionShown();
}

void RuntimeSection::refresh()
{
    const bool loading = m_model->loading();
    m_spinner->setVisible(loading);
    m_refresh->setVisible(!loading);

    if (const std::optional<QString> failure = m_model->failure()) {
        m_error->setContent(QStringLiteral("读不到这台电脑上的 Runtime 清单。"), *failure);
        m_error->show();
    } else {
        m_error->hide();
    }

    const std::optional<QString> counts = m_model->countLine();
    m_counts->setText(counts.value_or(QString()));
    m_counts->setVisible(counts.has_value());

    // Placeholders while the first load runs; a skeleton shown anew is a new
    // one, so its light band sweeps again.
    const bool placeholders = m_model->rows().isEmpty() && loading;
    if (placeholders && !m_skeleton) {
        m_skeleton = new SkeletonCards(kSkeletonCount, this);
        m_stack->insertWidget(m_stack->indexOf(m_grid), m_skeleton);
    } else if (!placeholders && m_skeleton) {
        m_skeleton->hide();
        m_skeleton->deleteLater();
        m_skeleton = nullptr;
    }
    m_grid->setVisible(!placeholders);

    m_grid->reconcile(
        m_model->plainRuntimeRows(), [](const RuntimeRow& row) { return row.kind; },
        [this](const RuntimeRow& row) { return new RuntimeCard(m_model, row.kind, this); },
        [this](QWidget* cell, const RuntimeRow& row) {
            static_cast<RuntimeCard*>(cell)->setState(m_model->cardState(row));
        });
}

void RuntimeSection::logChanged()
{
    m_logStale = true;
    if (isVisible() && !m_logTimer->isActive())
        m_logTimer->start();
}

void RuntimeSection::refreshLog()
{
    m_logTimer->stop();
    m_logStale = false;
    if (!m_model)
        return;
    const QStringList lines = m_model->logLines();
    m_log->setVisible(!lines.isEmpty());
    if (lines == m_logLines)
        return;
    // The log is a window over the output: usually some lines have left at
    // the top and new ones come at the end. Then only those change; anything
    // else (another workspace, a kind's lines going in between) is rewritten.
    qsizetype dropped = 0;
    while (dropped < m_logLines.size()
        && !std::equal(m_logLines.cbegin() + dropped, m_logLines.cend(), lines.cbegin(),
            lines.cbegin() + std::min(lines.size(), m_logLines.size() - dropped)))
        ++dropped;
    const qsizetype kept = m_logLines.size() - dropped;
    const bool appends = kept > 0 && kept <= lines.size();

    // A reader scrolled up stays where they are; otherwise the newest line shows.
    QScrollBar* bar = m_log->verticalScrollBar();
    const bool following = bar->value() >= bar->maximum();
    const int scrolled = bar->value();
    // In the document each line is its characters and one separator.
    const auto span = [](const QStringList& list, qsizetype from, qsizetype to) {
        qsizetype chars = 0;
        for (qsizetype i = from; i < to; ++i)
            chars += list.at(i).size() + 1;
        return chars;
    };
    if (appends) {
        if (const qsizetype gone = span(m_logLines, 0, dropped); gone > 0) {
            QTextCursor cursor(m_log->document());
            cursor.setPosition(int(gone), QTextCursor::KeepAnchor);
            cursor.removeSelectedText();
        }
        for (qsizetype i = kept; i < lines.size(); ++i)
            m_log->appendPlainText(lines.at(i));
    }
    if (!appends || m_log->document()->characterCount() != span(lines, 0, lines.size()))
        m_log->setPlainText(lines.join(QLatin1Char('\n')));
    m_logLines = lines;
    bar->setValue(following ? bar->maximum() : scrolled);
}

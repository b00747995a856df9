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
#include "gui/runtimes/RuntimeCard.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QShowEvent>
#include <QVBoxLayout>

namespace {

constexpr int kMinItem = 340;
constexpr int kSpacing = 10;
constexpr int kSkeletonCount = 4;
constexpr int kLogHeight = 110;

QString logStyle()
{
    return QStringLiteral("QPlainTextEdit { background: %1; color: %2; border: none; border-radius: 8px;"
                          " padding: 8px; }"
                          "QScrollBar:vertical { background: transparent; width: 8px; margin: 2px; }"
                          "QScrollBar::handle:vertical { background: %3; border-radius: 3px; min-height: 20px; }"
                          "QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; }")
        .arg(DS::muted(0.05).name(QColor::HexArgb), DS::muted(0.55).name(QColor::HexArgb),
            DS::muted(0.25).name(QColor::HexArgb));
}

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
    m_log->setFont(DSFont::monoMedium(10.5));
    m_log->setFixedHeight(kLogHeight);
    m_log->setStyleSheet(logStyle());
    m_log->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    m_log->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_log->setFrameShape(QFrame::NoFrame);
    m_log->hide();
    m_stack->addWidget(m_log);

    connect(m_model, &RuntimeSectionModel::changed, this, &RuntimeSection::refresh);
    connect(m_model, &RuntimeSectionModel::logChanged, this, &RuntimeSection::refreshLog);
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

void RuntimeSection::refreshLog()
{
    if (!m_model)
        return;
    const QStringList lines = m_model->logLines();
    m_log->setVisible(!lines.isEmpty());
    const QString text = lines.join(QLatin1Char('\n'));
    if (text == m_log->toPlainText())
        return;
    // A reader scrolled up stays where they are; otherwise the newest line shows.
    QScrollBar* bar = m_log->verticalScrollBar();
    const bool following = bar->value() >= bar->maximum();
    const int kept = bar->value();
    m_log->setPlainText(text);
    bar->setValue(following ? bar->maximum() : kept);
}

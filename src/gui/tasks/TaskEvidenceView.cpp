#include "gui/tasks/TaskEvidenceView.h"

#include "core/design/DS.h"
#include "core/design/DSFont.h"
#include "core/gateway/Status.h"
#include "core/gateway/TaskEvidence.h"
#include "core/tasks/EvidenceText.h"
#include "core/tasks/TaskEvidenceModel.h"
#include "gui/design/Chip.h"
#include "gui/design/DSText.h"
#include "gui/design/ElidedLabel.h"
#include "gui/design/ElidedLine.h"
#include "gui/design/Marker.h"
#include "gui/design/SecondaryButton.h"
#include "gui/design/SelectableText.h"
#include "gui/design/TextButton.h"
#include "gui/tasks/DeskArtifactSheet.h"
#include "gui/tasks/EvidenceArtifactRow.h"
#include "gui/tasks/EvidenceDiffBlock.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QShowEvent>
#include <QVBoxLayout>

namespace {

void setText(QLabel* label, const QString& text)
{
    if (label->text() != text)
        label->setText(text);
}

void setColour(QWidget* widget, const QColor& colour)
{
    if (widget->palette().color(QPalette::WindowText) != colour)
        DSText::setColour(widget, colour);
}

QColor tone(const TaskEvidenceState& state)
{
    switch (state.kind) {
    case TaskEvidenceState::Kind::Artifacts:
        return DS::mint();
    case TaskEvidenceState::Kind::NoArtifacts:
        return DS::muted(0.45);
    case TaskEvidenceState::Kind::Unlisted:
    case TaskEvidenceState::Kind::Failed:
        return DS::amber();
    case TaskEvidenceState::Kind::Loading:
        break;
    }
    return DS::muted(0.4);
}

QWidget* block(const QString& identifier, QVBoxLayout** layout, int spacing, QWidget* parent)
{
    auto* w = new QWidget(parent);
    w->setObjectName(identifier);
    *layout = new QVBoxLayout(w);
    (*layout)->setContentsMargins(0, 0, 0, 0);
    (*layout)->setSpacing(spacing);
    return w;
}

} // namespace

TaskEvidenceView::TaskEvidenceView(
    const CommandBrief& command, std::optional<CLIConfig> cfg, Status* status, QWidget* parent)
    : TaskEvidenceView(new TaskEvidenceModel(command, std::move(cfg), status), true, parent)
{
}

TaskEvidenceView::TaskEvidenceView(TaskEvidenceModel* model, QWidget* parent)
    : TaskEvidenceView(model, false, parent)
{
}

TaskEvidenceView::TaskEvidenceView(TaskEvidenceModel* model, bool owned, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_ownsModel(owned)
    , m_initialShowDiff(EvidenceText::isLive(model->command()))
{
    if (owned)
        model->setParent(this);
    Status* status = model->status();
    const QString id = model->command().id;
    m_stack = new QVBoxLayout(this);
    m_stack->setContentsMargins(0, 0, 0, 0);
    m_stack->setSpacing(10);

    // Origin header.
    auto* header = new QHBoxLayout;
    header->setSpacing(6);
    m_mode = new Chip(QString(), DS::cyan(), QString(), std::nullopt, this);
    header->addWidget(m_mode, 0, Qt::AlignVCenter);
    m_origin = new ElidedLine(Qt::ElideMiddle, QString(), this);
    m_origin->setObjectName(QStringLiteral("evidence.origin.") + id);
    m_origin->setFont(DSFont::monoMedium(10));
    DSText::setColour(m_origin, DS::muted(0.55));
    m_origin->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    header->addWidget(m_origin, 1, Qt::AlignVCenter);
    header->addSpacing(4);
    m_polls = DSText::label(QString(), DSFont::monoMedium(9.5), DS::muted(0.4), this);
    m_polls->setObjectName(QStringLiteral("evidence.polls.") + id);
    header->addWidget(m_polls, 0, Qt::AlignVCenter);
    m_stack->addLayout(header);

    // Result.
    QVBoxLayout* resultCol = nullptr;
    m_result = block(QStringLiteral("evidence.result.") + id, &resultCol, 3, this);
    m_resultTitle = DSText::label(QString(), DSFont::semiBold(10.5), DS::muted(0.45), m_result);
    resultCol->addWidget(m_resultTitle);
    m_resultBody = new SelectableText(DSFont::medium(12), DS::ink(), m_result);
    resultCol->addWidget(m_resultBody);
    m_stack->addWidget(m_result);

    // Artifacts.
    QVBoxLayout* artCol = nullptr;
    m_artifacts = block(QStringLiteral("evidence.artifacts.") + id, &artCol, 5, this);
    m_stateMarker = new Marker(QStringLiteral("evidence.state.") + id, QString(), m_artifacts);
    artCol->addWidget(m_stateMarker);
    auto* headlineRow = new QHBoxLayout;
    headlineRow->setSpacing(8);
    m_headline = DSText::label(QString(), DSFont::semiBold(11), DS::muted(0.4), m_artifacts);
    m_headline->setObjectName(QStringLiteral("evidence.headline.") + id);
    headlineRow->addWidget(m_headline, 0, Qt::AlignVCenter);
    headlineRow->addStretch(1);
    m_retry = new SecondaryButton(
        QStringLiteral("重试"), QStringLiteral("evidence.retry.") + id,
        [this] {
            if (m_model)
                m_model->retry();
        },
        m_artifacts);
    headlineRow->addWidget(m_retry, 0, Qt::AlignVCenter);
    artCol->addLayout(headlineRow);
    m_rows = new QVBoxLayout;
    m_rows->setSpacing(5);
    artCol->addLayout(m_rows);
    m_moreRows = DSText::label(QString(), DSFont::medium(10.5), DS::muted(0.45), m_artifacts);
    m_moreRows->setObjectName(QStringLiteral("evidence.more.") + id);
    artCol->addWidget(m_moreRows);
    m_diagToggle = new TextButton(QString(), DSFont::medium(10), DS::muted(0.38), m_artifacts);
    m_diagToggle->setObjectName(QStringLiteral("evidence.diagnostics.toggle.") + id);
    connect(m_diagToggle, &QAbstractButton::clicked, this, [this] {
        m_showDiagnostics = !m_showDiagnostics;
        refresh();
    });
    artCol->addWidget(m_diagToggle, 0, Qt::AlignLeft);
    m_diagText = new SelectableText(DSFont::monoMedium(9.5), DS::muted(0.45), m_artifacts);
    m_diagText->setObjectName(QStringLiteral("evidence.diagnostics.") + id);
    artCol->addWidget(m_diagText);
    m_stack->addWidget(m_artifacts);

    // Progress.
    QVBoxLayout* progCol = nullptr;
    m_progress = block(QStringLiteral("evidence.progress.") + id, &progCol, 3, this);
    progCol->addWidget(
        DSText::label(QStringLiteral("刚才在做什么"), DSFont::semiBold(10.5), DS::muted(0.45), m_progress));
    m_progressError = new SelectableText(DSFont::monoMedium(9.5), DS::amber(), m_progress);
    progCol->addWidget(m_progressError);
    m_progressLines = new QVBoxLayout;
    m_progressLines->setSpacing(3);
    progCol->addLayout(m_progressLines);
    m_progressNote = DSText::label(QString(), DSFont::medium(11), DS::muted(0.4), m_progress);
    progCol->addWidget(m_progressNote);
    m_stack->addWidget(m_progress);

    connect(model, &TaskEvidenceModel::changed, this, &TaskEvidenceView::refresh);
    if (!owned)
        connect(model, &QObject::destroyed, this, [this] { m_model = nullptr; });
    if (status) {
        connect(status, &Status::teamChanged, this, &TaskEvidenceView::refreshOrigin);
        connect(status, &Status::configChanged, this, &TaskEvidenceView::refreshOrigin);
    }
    refresh();
}

bool TaskEvidenceView::hasKeyboardStops(const TaskEvidenceModel& model)
{
    const TaskEvidenceState& state = model.state();
    return state.kind == TaskEvidenceState::Kind::Failed || !state.diagnostics().isEmpty()
        || (state.kind == TaskEvidenceState::Kind::Artifacts && !state.viewable.isEmpty())
        || !EvidenceText::diffFiles(state).isEmpty();
}

void TaskEvidenceView::setCommand(const CommandBrief& command)
{
    if (!m_model)
        return;
    m_model->setCommand(command);
    // The roster may have changed with the command list.
    refreshOrigin();
}

bool TaskEvidenceView::holdsOwnState() const
{
    return m_opening || m_showDiagnostics || showDiff() != m_initialShowDiff;
}

bool TaskEvidenceView::showDiff() const
{
    return m_diff ? m_diff->isExpanded() : m_initialShowDiff;
}

void TaskEvidenceView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (m_ownsModel && !event->spontaneous())
        m_model->setActive(true);
}

void TaskEvidenceView::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    if (m_ownsModel && !event->spontaneous())
        m_model->setActive(false);
}

void TaskEvidenceView::open(const DeskFileChange& file)
{
    if (!m_model)
        return;
    if (m_opening)
        m_opening->reject();
    auto* sheet = new DeskArtifactSheet(file, m_model->config(), m_model->evidence(), m_model->command().text, this);
    connect(sheet, &QDialog::finished, sheet, &QObject::deleteLater);
    m_opening = sheet;
    sheet->open();
}

DeskArtifactSheet* TaskEvidenceView::opening() const
{
    return m_opening;
}

void TaskEvidenceView::refreshOrigin()
{
    if (!m_model)
        return;
    m_origin->setText(m_model->originLine());
}

void TaskEvidenceView::refresh()
{
    if (!m_model)
        return;
    const CommandBrief& command = m_model->command();
    const bool live = m_model->isLive();
    const TaskEvidenceState& state = m_model->state();

    // Origin header.
    const QString mode = live ? QStringLiteral("实时") : QStringLiteral("终态 replay");
    if (m_mode->shownText() != mode) {
        m_mode->setText(QString(), mode);
        m_mode->setTint(live ? DS::cyan() : DS::muted(0.45));
    }
    m_mode->setObjectName(
        QStringLiteral("evidence.mode.") + command.id + (live ? QStringLiteral(".live") : QStringLiteral(".replay")));
    refreshOrigin();
    const bool counting = live && m_model->polls() >= 1;
    if (counting)
        DSText::setTickingText(m_polls, EvidenceText::pollCounter(m_model->polls(), m_model->lastFetch()));
    m_polls->setVisible(counting);

    // Result.
    const bool failedRun = !command.error.isEmpty();
    m_result->setVisible(failedRun || !command.summary.isEmpty());
    setText(m_resultTitle, failedRun ? QStringLiteral("没成的原因") : QStringLiteral("结果"));
    setColour(m_resultTitle, failedRun ? DS::failureRed() : DS::muted(0.45));
    m_resultBody->setText(EvidenceText::resultBody(command));

    // Artifacts.
    m_stateMarker->setLabel(EvidenceText::stateWord(state));
    setText(m_headline, EvidenceLive::headline(state, live));
    setColour(m_headline, tone(state));
    m_retry->setVisible(state.kind == TaskEvidenceState::Kind::Failed);
    m_retry->setEnabled(!m_model->retrying());
    const QList<DeskFileChange> viewable
        = state.kind == TaskEvidenceState::Kind::Artifacts ? state.viewable : QList<DeskFileChange>();
    OccurrenceKeys<QString> paths;
    const QList<EvidenceArtifactRow*> rows = m_rowWidgets.reconcile(
        viewable.mid(0, EvidenceText::kShownFiles), [&paths](const DeskFileChange& f) { return paths(f.path); },
        [this](const DeskFileChange& f) {
            auto* row = new EvidenceArtifactRow(f, m_artifacts);
            connect(row, &QAbstractButton::clicked, this, [this, row] { open(row->file()); });
            return row;
        },
        [](EvidenceArtifactRow* row, const DeskFileChange& f) { row->setFile(f); });
    KeyedLayout::place(m_rows, rows);
    const QString more = EvidenceText::moreFiles(viewable.size());
    setText(m_moreRows, more);
    m_moreRows->setVisible(!more.isEmpty());
    const QString diagnostics = state.diagnostics();
    m_diagToggle->setVisible(!diagnostics.isEmpty());
    const QString toggle = m_showDiagnostics ? QStringLiteral("收起技术细节") : QStringLiteral("技术细节");
    if (m_diagToggle->text() != toggle) {
        m_diagToggle->setText(toggle);
        m_diagToggle->updateGeometry();
    }
    m_diagText->setText(diagnostics);
    m_diagText->setVisible(m_showDiagnostics && !diagnostics.isEmpty());

    // Diff.
    const QList<DeskFileChange> diffFiles = EvidenceText::diffFiles(state);
    if (!diffFiles.isEmpty() && !m_diff) {
        m_diff = new EvidenceDiffBlock(command.id, this);
        m_diff->setExpanded(m_initialShowDiff);
        m_stack->insertWidget(m_stack->indexOf(m_progress), m_diff);
    }
    if (m_diff) {
        if (!diffFiles.isEmpty())
            m_diff->setChanges(state.changes, diffFiles, live);
        m_diff->setVisible(!diffFiles.isEmpty());
    }

    // Progress.
    m_progress->setVisible(live);
    const std::optional<QString>& error = m_model->progressError();
    const QList<ProgressLine> shown
        = error ? QList<ProgressLine>() : EvidenceText::progressShown(m_model->progressTail());
    m_progressError->setText(error ? QStringLiteral("读不到进度：") + *error : QString());
    m_progressError->setVisible(error.has_value());
    OccurrenceKeys<qint64> seqs;
    const QList<ElidedLabel*> lines = m_lineWidgets.reconcile(
        shown, [&seqs](const ProgressLine& l) { return seqs(l.seq); },
        [this](const ProgressLine&) {
            auto* label = new ElidedLabel(2, QString(), m_progress);
            label->setFont(DSFont::medium(11));
            DSText::setColour(label, DS::muted(0.65));
            return label;
        },
        [](ElidedLabel* label, const ProgressLine& l) {
            if (label->text() != l.action)
                label->setText(l.action);
        });
    KeyedLayout::place(m_progressLines, lines);
    const bool note = !error && shown.isEmpty();
    setText(m_progressNote, m_model->polls() == 0 ? QStringLiteral("正在读…") : QStringLiteral("还没有进度上报"));
    m_progressNote->setVisible(note);
}

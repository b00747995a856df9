#pragma once

#include "core/gateway/CLIConfig.h"
#include "core/gateway/Records.h"
#include "gui/design/KeyedReconciler.h"

#include <QPointer>
#include <QWidget>

#include <optional>

class Chip;
class DeskArtifactSheet;
class ElidedLabel;
class ElidedLine;
class EvidenceArtifactRow;
class EvidenceDiffBlock;
class Marker;
class QLabel;
class QVBoxLayout;
class SecondaryButton;
class SelectableText;
class Status;
class TaskEvidenceModel;
class TextButton;
struct DeskFileChange;

// The evidence of one task, embedded where the task is shown: where it came
// from, its result, the files it produced (each opens in the artifact
// sheet), the diff and, while it runs, what it was doing a moment ago.
//
// Its creator keeps one view per command id and hands it the command's
// latest fields; the view's own state (the fetches, the open folds, an open
// sheet) lives as long as the view. It fetches only while shown.
//
// A creator that keeps the evidence fetched whether or not the view is made
// (a long list making its rows as they come into view) hands it the model
// instead: the model's fetching is then the creator's.
class TaskEvidenceView : public QWidget {
    Q_OBJECT
public:
    TaskEvidenceView(
        const CommandBrief& command, std::optional<CLIConfig> cfg, Status* status, QWidget* parent = nullptr);
    explicit TaskEvidenceView(TaskEvidenceModel* model, QWidget* parent = nullptr);

    // Whether the view of `model` holds a control the keyboard stops at
    // (an artifact, the retry button, the diagnostics toggle, the diff's fold).
    static bool hasKeyboardStops(const TaskEvidenceModel& model);

    TaskEvidenceModel* model() const { return m_model; }
    // The command's latest fields (a change of status fetches anew).
    void setCommand(const CommandBrief& command);

    bool showDiff() const;
    // Whether the view holds something of its own a new view would not
    // show: an open sheet, or a fold the user opened or closed.
    bool holdsOwnState() const;
    // Opens a file in the artifact sheet; the sheet that is open, or null.
    void open(const DeskFileChange& file);
    DeskArtifactSheet* opening() const;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    TaskEvidenceView(TaskEvidenceModel* model, bool owned, QWidget* parent);
    void refresh();
    void refreshOrigin();

    // Null once gone with its owner, when that is not this view.
    TaskEvidenceModel* m_model;
    bool m_ownsModel;
    bool m_showDiagnostics = false;
    bool m_initialShowDiff;
    QPointer<DeskArtifactSheet> m_opening;

    QVBoxLayout* m_stack;
    Chip* m_mode;
    ElidedLine* m_origin;
    QLabel* m_polls;

    QWidget* m_result;
    QLabel* m_resultTitle;
    SelectableText* m_resultBody;

    QWidget* m_artifacts;
    Marker* m_stateMarker;
    QLabel* m_headline;
    SecondaryButton* m_retry;
    QVBoxLayout* m_rows;
    // A path or a sequence number the gateway repeats still gets its own row.
    KeyedReconciler<OccurrenceKeys<QString>::Key, EvidenceArtifactRow> m_rowWidgets;
    QLabel* m_moreRows;
    TextButton* m_diagToggle;
    SelectableText* m_diagText;

    EvidenceDiffBlock* m_diff = nullptr;

    QWidget* m_progress;
    SelectableText* m_progressError;
    QVBoxLayout* m_progressLines;
    KeyedReconciler<OccurrenceKeys<qint64>::Key, ElidedLabel> m_lineWidgets;
    QLabel* m_progressNote;
};

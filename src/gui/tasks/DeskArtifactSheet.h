#pragma once

#include "core/gateway/CLIConfig.h"
#include "core/gateway/TaskEvidence.h"

#include <QCoroTask>
#include <QDialog>
#include <QPointer>

#include <optional>

class ArtifactText;
class BusyIndicator;
class ElidedLine;
class EvidenceClient;
class QLabel;
class QStackedWidget;
class SecondaryButton;

// The sheet that shows the text of one file a task produced, fetched from
// the gateway by its content hash: a spinner while loading, the whole text
// (never cut) in a scrolling read-only body, or why it cannot be shown, with
// a retry when trying again may help. 720 × 560 (less on a screen without
// the room, kept on it), window-modal.
class DeskArtifactSheet : public QDialog {
    Q_OBJECT
public:
    static constexpr int kWidth = 720;
    static constexpr int kHeight = 560;

    DeskArtifactSheet(const DeskFileChange& file, std::optional<CLIConfig> cfg, EvidenceClient* evidence,
        const QString& taskText, QWidget* parent = nullptr);

    const DeskFileChange& file() const { return m_file; }
    const std::optional<QString>& text() const { return m_text; }

    // Loads again (the retry button).
    void retry();

signals:
    // A load has finished (text or failure shown).
    void loadFinished();

protected:
    void showEvent(QShowEvent* event) override;
    bool focusNextPrevChild(bool next) override;

private:
    QCoro::Task<> load(int tick);
    void showContent();

    DeskFileChange m_file;
    std::optional<CLIConfig> m_cfg;
    QPointer<EvidenceClient> m_evidence;

    std::optional<QString> m_text;
    std::optional<QString> m_failure;
    bool m_retryable = false;
    bool m_loading = true;
    int m_tick = 0;
    bool m_started = false;

    QStackedWidget* m_content;
    QWidget* m_spinnerPage;
    QWidget* m_errorPage;
    QLabel* m_errorTitle;
    QLabel* m_errorWhy;
    SecondaryButton* m_retry;
    ArtifactText* m_body;
    QWidget* m_nothing;
};

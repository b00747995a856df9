#pragma once

#include <QPointer>
#include <QStringList>
#include <QWidget>

class AdaptiveColumns;
class AdvancedAccessSection;
class BusyIndicator;
class ErrorBanner;
class QLabel;
class QPlainTextEdit;
class QTimer;
class QVBoxLayout;
class RuntimeCard;
class RuntimeSectionModel;
class SecondaryButton;
class SkeletonCards;

// The agent runtimes of this machine, on either page of the main window: a
// header with "重新检测", the inventory's failure, the count line, a card per
// runtime (placeholders while the first load runs), the user-added agent
// connections and the last output lines of the selected workspace's workers.
// It keeps nothing of its own: everything comes from the section model.
class RuntimeSection : public QWidget {
    Q_OBJECT
public:
    explicit RuntimeSection(RuntimeSectionModel* model, QWidget* parent = nullptr);

    AdaptiveColumns* grid() const { return m_grid; }
    // Null while no placeholders are shown.
    SkeletonCards* skeleton() const;
    RuntimeCard* card(const QString& kind) const;
    QPlainTextEdit* log() const { return m_log; }
    AdvancedAccessSection* advanced() const { return m_advanced; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void refresh();
    // Output comes a line at a time: the log is brought up to date once per
    // burst, and not at all while the section is off screen.
    void logChanged();
    void refreshLog();

    // The window's controller owns it and outlives the section.
    RuntimeSectionModel* m_model;
    QVBoxLayout* m_stack;
    BusyIndicator* m_spinner;
    SecondaryButton* m_refresh;
    ErrorBanner* m_error;
    QLabel* m_counts;
    QPointer<SkeletonCards> m_skeleton;
    AdaptiveColumns* m_grid;
    AdvancedAccessSection* m_advanced;
    QPlainTextEdit* m_log;
    // The lines the log holds.
    QStringList m_logLines;
    bool m_logStale = false;
    QTimer* m_logTimer;
};

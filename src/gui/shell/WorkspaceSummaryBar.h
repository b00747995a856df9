#pragma once

#include "core/shell/WorkspaceSummary.h"
#include "gui/design/KeyedReconciler.h"

#include <QList>
#include <QString>
#include <QWidget>

class QLabel;
class QVBoxLayout;
class QWidget;
class WorkspaceSummaryModel;

// The strip at the top of the paired-workspace page: one line about the AI
// employees, one about the local runtimes (with how long ago the machine was
// asked), the rows that need the user, and the check-and-recover button.
// It only draws the summary its model derives.
class WorkspaceSummaryBar : public QWidget {
    Q_OBJECT
public:
    // One attention row: its symbol, its text, and for the rows that lead
    // somewhere, the identifier of their button.
    struct AttentionRow {
        QString symbol;
        QString text;
        QString identifier; // empty: plain text, not a button
        bool operator==(const AttentionRow&) const = default;
    };

    explicit WorkspaceSummaryBar(QWidget* parent = nullptr);
    // Draws the model's summary, and each one it publishes; the model outlives the bar.
    explicit WorkspaceSummaryBar(const WorkspaceSummaryModel* model, QWidget* parent = nullptr);

    // Updates the bar in place.
    void setSummary(const WorkspaceSummary& summary);
    const WorkspaceSummary& summary() const { return m_summary; }

    // "5 名 · 2 工作中 · 3 空闲"
    static QString employeeLine(const WorkspaceSummary& s);
    // "0 已安装 · 0 已配置 · 0 可用"
    static QString runtimeLine(const WorkspaceSummary& s);
    // "刚问过", "42 秒前问的", "3 分钟前问的"
    static QString ageWord(qint64 seconds);
    // The rows of the attention block, in order; empty when it is left out.
    static QList<AttentionRow> attentionRows(const WorkspaceSummary& s);

signals:
    // Scroll to the runtime section ("summary.attention.runtimes").
    void runtimesRequested();
    // Open the approvals sheet ("summary.attention.approvals").
    void approvalsRequested();
    // Open the failed-tasks sheet ("summary.attention.failed").
    void failedTasksRequested();
    // Start check-and-recover ("workspace.recover").
    void recoveryRequested();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void apply();

    WorkspaceSummary m_summary;
    QLabel* m_employeeValue;
    QLabel* m_runtimeValue;
    QLabel* m_runtimeAge;
    QWidget* m_attention;
    QVBoxLayout* m_attentionRows;
    // One line per attention row, keyed by its symbol.
    KeyedReconciler<QString> m_lines;
};

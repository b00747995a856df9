#pragma once

#include "core/gateway/Records.h"
#include "gui/design/KeyedReconciler.h"

#include <QWidget>

#include <optional>

class ProseLabel;
class QLabel;
class QVBoxLayout;

// The last few progress lines of the running command, each with the icon of
// its kind; the load error in amber instead, or a note that nothing was
// reported yet.
class ProgressTail : public QWidget {
    Q_OBJECT
public:
    explicit ProgressTail(QWidget* parent = nullptr);

    void setProgress(const QList<ProgressLine>& progress, const std::optional<QString>& error, bool truncated);

private:
    ProseLabel* m_error;
    QWidget* m_lines;
    QVBoxLayout* m_linesLayout;
    KeyedReconciler<QString> m_rows;
    QLabel* m_truncated;
    QLabel* m_empty;
};

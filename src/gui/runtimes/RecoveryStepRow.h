#pragma once

#include "core/runtimes/RecoveryRunner.h"

#include <QWidget>

class BusyIndicator;
class Icon;
class QLabel;

// One step of a recovery run: its state's icon (a spinner while it runs), its
// title and its detail. Identifier: the step's id; accessible name: the title,
// a blank and the state word ("ok", "needs_you", "failed", "pending", "running").
class RecoveryStepRow : public QWidget {
    Q_OBJECT
public:
    // `width` is the width the sheet gives the row; the row's height follows its
    // detail text wrapped at that width.
    RecoveryStepRow(const QString& id, int width, QWidget* parent = nullptr);

    void setStep(const RecoveryRunner::Step& step);

    static QString stateWord(RecoveryRunner::State state);

private:
    Icon* m_icon;
    BusyIndicator* m_spinner;
    QLabel* m_title;
    QLabel* m_detail;
    int m_width;
};

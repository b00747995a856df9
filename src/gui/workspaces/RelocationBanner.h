#pragma once

#include "core/workspaces/RelocationState.h"
#include "gui/design/KeyedReconciler.h"

#include <QPointer>
#include <QWidget>

class QAbstractButton;
class QLabel;
class QVBoxLayout;
class SecondaryButton;

// "工作区已移动": shown above the summary while the selected workspace's folder
// is missing. It says that only the folder is lost, shows what the automatic
// search found (one match to confirm, or candidates to choose among), and
// offers to point at the folder by hand or to search again. Everything it
// shows and does comes from the RelocationState it is given.
class RelocationBanner : public QWidget {
    Q_OBJECT
public:
    explicit RelocationBanner(RelocationState* state, QWidget* parent = nullptr);

    RelocationState* state() const { return m_state; }

    QWidget* matchBox() const { return m_matchBox; }
    QWidget* candidatesBox() const { return m_candidatesBox; }
    // The candidate rows on show, in order.
    QList<QAbstractButton*> candidateRows() const;
    SecondaryButton* folderButton() const { return m_folder; }
    SecondaryButton* retryButton() const { return m_retry; }

    // The explanation under the title, with "不需要重新扫码" in bold (escaped HTML).
    static QString explanationHtml();

private:
    void refresh();
    void pickFolder();

    // Outlives the banner (the window's controller owns it).
    RelocationState* m_state;
    QLabel* m_previous;
    QLabel* m_note;
    QWidget* m_matchBox;
    QLabel* m_pending;
    QWidget* m_candidatesBox;
    QVBoxLayout* m_candidateRows;
    KeyedReconciler<QString, QAbstractButton> m_rows;
    SecondaryButton* m_folder;
    SecondaryButton* m_retry;
};

#pragma once

#include "core/workforce/CollabGraph.h"
#include "gui/design/KeyedReconciler.h"

#include <QWidget>

class CollabNodeRow;
class EmptyState;
class QLabel;
class QVBoxLayout;

// Who waits on whom: one row per fan-in group (the employees waited on
// stacked on the left, a connector, the one waiting on the right), then the
// employees in no group; a plain list for seven employees or more; a
// placeholder without any. Rows and groups are kept by id across updates,
// so a running dot keeps breathing. Identifier "collab.view".
class CollaborationView : public QWidget {
    Q_OBJECT
public:
    explicit CollaborationView(QWidget* parent = nullptr);

    void setGraph(const CollabGraph& graph);

    // The row of a node in whichever body shows; null when none shows it.
    CollabNodeRow* nodeRow(const QString& id) const;
    QWidget* group(const QString& targetID) const;

private:
    EmptyState* m_empty;
    QWidget* m_list;
    QVBoxLayout* m_listRows;
    KeyedReconciler<QString, CollabNodeRow> m_listed;
    QWidget* m_diagram;
    QVBoxLayout* m_groupRows;
    KeyedReconciler<QString> m_groups;
    QWidget* m_outsiders;
    QVBoxLayout* m_outsiderRows;
    KeyedReconciler<QString, CollabNodeRow> m_alone;
};

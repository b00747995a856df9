#pragma once

#include <QWidget>

class CollaborationView;
class WorkforceModel;

// The window's collaboration section: the diagram of the shared
// collaboration graph, shown only while the roster is not empty and the
// graph has an edge and a node to draw; otherwise it takes no space.
class CollaborationSection : public QWidget {
    Q_OBJECT
public:
    explicit CollaborationSection(WorkforceModel* model, QWidget* parent = nullptr);

    CollaborationView* view() const { return m_view; }
    // Redraws from the model now (its signal does it when it publishes).
    void refresh();

private:
    // Outlives the section (the window's controller owns it).
    WorkforceModel* m_model;
    CollaborationView* m_view;
};

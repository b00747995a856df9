#include "gui/workforce/CollaborationSection.h"

#include "core/workforce/WorkforceModel.h"
#include "gui/workforce/CollaborationView.h"

#include <QHBoxLayout>

CollaborationSection::CollaborationSection(WorkforceModel* model, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
{
    setObjectName(QStringLiteral("collab.section"));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    // The diagram grows to its widest, then stays at the leading edge.
    m_view = new CollaborationView(this);
    m_view->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    row->addWidget(m_view, 1);
    row->addStretch(0);
    connect(model, &WorkforceModel::changed, this, &CollaborationSection::refresh);
    refresh();
}

void CollaborationSection::refresh()
{
    const bool shown = m_model->snapshot().showsCollaboration();
    if (shown)
        m_view->setGraph(m_model->snapshot().collabGraph);
    setVisible(shown);
}

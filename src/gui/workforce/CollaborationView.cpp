#include "gui/workforce/CollaborationView.h"

#include "core/design/DS.h"
#include "core/design/DSFont.h"
#include "core/workforce/CollabLayout.h"
#include "gui/design/DSText.h"
#include "gui/design/EmptyState.h"
#include "gui/design/SectionHeader.h"
#include "gui/workforce/CollabNodeRow.h"
#include "gui/workforce/FanInConnector.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace {

QList<CollabNodeRow*> reconcileRows(
    KeyedReconciler<QString, CollabNodeRow>& rows, const QList<CollabNode>& nodes, QWidget* parent)
{
    return rows.reconcile(
        nodes, [](const CollabNode& n) { return n.id; },
        [parent](const CollabNode& n) { return new CollabNodeRow(n, parent); },
        [](CollabNodeRow* row, const CollabNode& n) { row->setNode(n); });
}

// One target and the employees it waits on.
class FanInGroup : public QWidget {
public:
    explicit FanInGroup(const QString& targetID, QWidget* parent)
        : QWidget(parent)
    {
        setObjectName(QStringLiteral("collab.group.") + targetID);
        auto* row = new QHBoxLayout(this);
        row->setContentsMargins(0, 0, 0, 0);
        row->setSpacing(0);
        m_sources = new QWidget(this);
        m_sources->setMaximumWidth(240);
        m_sourceRows = new QVBoxLayout(m_sources);
        m_sourceRows->setContentsMargins(0, 0, 0, 0);
        m_sourceRows->setSpacing(8);
        row->addWidget(m_sources, 1, Qt::AlignVCenter);
        m_connector = new FanInConnector(1, false, this);
        row->addWidget(m_connector);
        m_target = new QWidget(this);
        m_target->setMaximumWidth(240);
        m_targetRow = new QVBoxLayout(m_target);
        m_targetRow->setContentsMargins(0, 0, 0, 0);
        row->addWidget(m_target, 1, Qt::AlignVCenter);
        row->addStretch(0);
    }

    void setGroup(const CollabGraph::FanIn& group)
    {
        // A source listed twice (a failed and a sound dependency) shows once.
        const QList<CollabNodeRow*> sources = reconcileRows(m_sourceRowsById, group.sources, m_sources);
        KeyedLayout::place(m_sourceRows, sources);
        m_connector->setShape(int(sources.size()), CollabLayout::dashed(group.sources));
        const QList<CollabNodeRow*> target = reconcileRows(m_targetById, { group.target }, m_target);
        KeyedLayout::place(m_targetRow, target);
    }

private:
    QWidget* m_sources;
    QVBoxLayout* m_sourceRows;
    KeyedReconciler<QString, CollabNodeRow> m_sourceRowsById;
    FanInConnector* m_connector;
    QWidget* m_target;
    QVBoxLayout* m_targetRow;
    KeyedReconciler<QString, CollabNodeRow> m_targetById;
};

QWidget* column(int spacing, QVBoxLayout** layout, QWidget* parent)
{
    auto* w = new QWidget(parent);
    *layout = new QVBoxLayout(w);
    (*layout)->setContentsMargins(0, 0, 0, 0);
    (*layout)->setSpacing(spacing);
    return w;
}

} // namespace

CollaborationView::CollaborationView(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("collab.view"));
    setMinimumWidth(360);
    setMaximumWidth(720);
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(10);
    stack->addWidget(new SectionHeader(QStringLiteral("他们之间的先后"),
        QStringLiteral("谁在等谁 —— 只有真的有先后关系时这里才画得出线"), nullptr, this));

    m_empty = new EmptyState(EmptyState::Kind::emptyButHealthy,
        QStringLiteral("这个工作区里还没有同事。在手机上雇一个，他就会出现在这里。"), std::nullopt, this);
    stack->addWidget(m_empty);

    m_list = column(7, &m_listRows, this);
    stack->addWidget(m_list);

    QVBoxLayout* diagram = nullptr;
    m_diagram = column(20, &diagram, this);
    m_groupRows = new QVBoxLayout;
    m_groupRows->setSpacing(20);
    diagram->addLayout(m_groupRows);
    m_outsiders = column(7, &m_outsiderRows, m_diagram);
    m_outsiderRows->addWidget(DSText::label(QStringLiteral("目前各干各的"), DSFont::semiBold(11), DS::muted(0.42)));
    diagram->addWidget(m_outsiders);
    stack->addWidget(m_diagram);
    setGraph({});
}

void CollaborationView::setGraph(const CollabGraph& graph)
{
    const CollabLayout::Body body = CollabLayout::body(graph);
    m_empty->setVisible(body == CollabLayout::Body::empty);
    m_list->setVisible(body == CollabLayout::Body::list);
    m_diagram->setVisible(body == CollabLayout::Body::diagram);

    // Each body keeps its rows only while it shows.
    KeyedLayout::place(m_listRows,
        reconcileRows(m_listed, body == CollabLayout::Body::list ? graph.nodes : QList<CollabNode> {}, m_list));

    const QList<CollabGraph::FanIn> groups
        = body == CollabLayout::Body::diagram ? graph.fanIn() : QList<CollabGraph::FanIn> {};
    const QList<QWidget*> groupWidgets = m_groups.reconcile(
        groups, [](const CollabGraph::FanIn& g) { return g.target.id; },
        [this](const CollabGraph::FanIn& g) -> QWidget* { return new FanInGroup(g.target.id, m_diagram); },
        [](QWidget* w, const CollabGraph::FanIn& g) { static_cast<FanInGroup*>(w)->setGroup(g); });
    KeyedLayout::place(m_groupRows, groupWidgets);

    const QList<CollabNode> alone
        = body == CollabLayout::Body::diagram ? CollabLayout::outsiders(graph, groups) : QList<CollabNode> {};
    KeyedLayout::place(m_outsiderRows, reconcileRows(m_alone, alone, m_outsiders), 1);
    m_outsiders->setVisible(!alone.isEmpty());
}

CollabNodeRow* CollaborationView::nodeRow(const QString& id) const
{
    if (CollabNodeRow* row = m_listed.find(id))
        return row;
    if (CollabNodeRow* row = m_alone.find(id))
        return row;
    for (QWidget* g : m_groups.widgets()) {
        for (CollabNodeRow* row : g->findChildren<CollabNodeRow*>()) {
            if (row->node() && row->node()->id == id)
                return row;
        }
    }
    return nullptr;
}

QWidget* CollaborationView::group(const QString& targetID) const
{
    return m_groups.find(targetID);
}

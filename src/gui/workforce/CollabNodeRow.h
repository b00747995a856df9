#pragma once

#include "core/workforce/CollabGraph.h"

#include <QWidget>

#include <optional>

class ElidedLabel;
class ElidedLine;
class NodeGlyph;

// One employee in the collaboration diagram: its status glyph, its name and
// a line about what it does or waits on. Identifier "collab.node." + id +
// "." + the English status.
class CollabNodeRow : public QWidget {
    Q_OBJECT
public:
    explicit CollabNodeRow(const CollabNode& node, QWidget* parent = nullptr);

    void setNode(const CollabNode& node);
    NodeGlyph* glyph() const { return m_glyph; }
    const std::optional<CollabNode>& node() const { return m_node; }

private:
    NodeGlyph* m_glyph;
    ElidedLine* m_name;
    ElidedLabel* m_subtitle;
    std::optional<CollabNode> m_node;
};

#pragma once

#include <QColor>
#include <QWidget>

#include <optional>

class QVBoxLayout;

// The one card look: content padded 14 on every side, the full width on
// offer, a rounded (radius 12) translucent fill and a 1-point border drawn
// inside the edge, plain or tinted by state. Carries no identifier.
class Card : public QWidget {
    Q_OBJECT
public:
    explicit Card(QWidget* parent = nullptr);
    Card(std::optional<QColor> tint, bool emphasized, QWidget* parent = nullptr);

    // The card's own vertical layout (margins 14, spacing 0); add the content here.
    QVBoxLayout* contentLayout() const { return m_layout; }

    void setTint(std::optional<QColor> tint);
    void setEmphasized(bool emphasized);
    std::optional<QColor> tint() const { return m_tint; }
    bool emphasized() const { return m_emphasized; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QVBoxLayout* m_layout;
    std::optional<QColor> m_tint;
    bool m_emphasized = false;
};

#pragma once

#include <QWidget>

// The line from a group's sources to its target: a vertical bar joining
// several sources, a stem to the right and an arrowhead at the target;
// dashed when a source failed. Stretches to its group's height.
class FanInConnector : public QWidget {
    Q_OBJECT
public:
    FanInConnector(int count, bool dashed, QWidget* parent = nullptr);

    void setShape(int count, bool dashed);

    QSize sizeHint() const override { return { 34, 34 }; }
    QSize minimumSizeHint() const override { return { 34, 34 }; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int m_count;
    bool m_dashed;
};

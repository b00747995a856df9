#pragma once

#include "core/design/TolvarineStatus.h"

#include <QWidget>

class QVariantAnimation;

// The status mark at the head of a collaboration node: a symbol for the
// states that have one, else a dot (solid with a reading, a ring without).
// The running dot breathes between full opacity and 0.45 once it is on
// screen, unless the user asked for less motion.
class NodeGlyph : public QWidget {
    Q_OBJECT
public:
    NodeGlyph(TolvarineStatus status, bool hasReading, QWidget* parent = nullptr);

    void setStatus(TolvarineStatus status, bool hasReading);
    // Whether the running dot has started breathing; its opacity now.
    bool breathing() const { return m_breathing; }
    qreal dotOpacity() const { return m_opacity; }

    QSize sizeHint() const override { return { 12, 12 }; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void startBreathing();

    TolvarineStatus m_status;
    bool m_hasReading;
    bool m_breathing = false;
    qreal m_opacity = 1.0;
    QVariantAnimation* m_pulse = nullptr;
};

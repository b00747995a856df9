#pragma once

#include <QWidget>

class QTimer;
class QVariantAnimation;

// Grey placeholder cards standing in for a card grid that is still loading,
// in the columns the runtime grid would use (minimum 340, spacing 10). For
// the first eight seconds a faint diagonal band of light sweeps across them,
// then fades; with reduce-motion nothing ever moves. To assistive technology
// it is one element: "正在读这台电脑上的 Runtime", identifier "skeleton.cards".
class SkeletonCards : public QWidget {
    Q_OBJECT
public:
    explicit SkeletonCards(int count, QWidget* parent = nullptr);

    int columnCount() const;

    // Whether the light band is being drawn now.
    bool isShimmering() const { return m_shimmering && !m_reduceMotion; }
    qreal sweep() const { return m_sweep; }

    // Height of the placeholder card for a seed (even seeds have three lines).
    static int cardHeight(int seed);
    static int titleBarWidth(int seed) { return seed % 2 ? 78 : 96; }

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void paintCard(class QPainter& p, const QRectF& r, int seed) const;

    int m_count;
    bool m_reduceMotion;
    bool m_shimmering = true;
    bool m_started = false;
    qreal m_sweep = -0.4;
    qreal m_bandOpacity = 1.0;
    QVariantAnimation* m_sweepAnimation;
    QVariantAnimation* m_fade;
    QTimer* m_stop;
};

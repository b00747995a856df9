#pragma once

#include <QImage>
#include <QString>
#include <QWidget>

class QLabel;

// The phone pairing code for one link, `side` points square: the image with
// rounded corners on white, and under it a warning when even the weakest
// error-correction level gives modules below 0.6 mm. When no image can be
// made, two lines say so and point at the link below. The image is made once
// per link (and again when the screen's pixel density changes); each image
// writes its "[PAIR_QR_IMAGE]" line on standard output.
class QRView : public QWidget {
    Q_OBJECT
public:
    QRView(const QString& text, double side, QWidget* parent = nullptr);

    void setText(const QString& text);

    // The image on show; null when none could be made.
    // The diagnostic line of the image on show; empty when there is none.
    QString diagnosticLine() const { return m_diagnostic; }

protected:
    bool event(QEvent* event) override;

private:
    void render();

    QString m_text;
    double m_side;
    qreal m_renderedRatio = 0;
    QImage m_image;
    QString m_diagnostic;
    QWidget* m_tile;
    QLabel* m_warning;
    QWidget* m_failure;
};

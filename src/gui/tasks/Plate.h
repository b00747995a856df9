#pragma once

#include <QWidget>

// A quiet background for a block of the section: a rounded rectangle (radius
// 12) of ink2 at 0.05 behind the content, padded 10 on every side by its users.
class Plate : public QWidget {
    Q_OBJECT
public:
    explicit Plate(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

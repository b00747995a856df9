#pragma once

#include "core/design/StatusBadgeLook.h"

#include <QWidget>

#include <optional>

class QLabel;
class Marker;

// A coloured dot (solid with a reading, a hollow ring without) and a
// monospaced status word. Over the whole row lies a 1 × 1 marker whose
// identifier is "status." + the stable state word, whatever the text shows.
class StatusBadge : public QWidget {
    Q_OBJECT
public:
    StatusBadge(const QString& text, const QColor& tint, const QString& stable, bool hasReading,
        const std::optional<QString>& identifier = std::nullopt, QWidget* parent = nullptr);
    StatusBadge(const StatusBadgeLook& look, const std::optional<QString>& identifier = std::nullopt,
        QWidget* parent = nullptr);
    // The badge of a local runtime's usability.
    StatusBadge(
        RuntimeUsability runtime, const std::optional<QString>& identifier = std::nullopt, QWidget* parent = nullptr);

    void setLook(const StatusBadgeLook& look);
    const StatusBadgeLook& look() const { return m_look; }
    QLabel* word() const { return m_word; }

    static constexpr int kDot = 7;
    static constexpr int kGap = 5;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // Shows m_look.
    void applyLook();

    StatusBadgeLook m_look;
    QLabel* m_word;
    Marker* m_marker;
};

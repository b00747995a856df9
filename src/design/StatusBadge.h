#pragma once

#include "design/StatusBadgeSpec.h"

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
    StatusBadge(const StatusBadgeSpec& spec, const std::optional<QString>& identifier = std::nullopt,
                QWidget* parent = nullptr);
    // The badge of a local runtime's usability.
    StatusBadge(RuntimeUsability runtime, const std::optional<QString>& identifier = std::nullopt,
                QWidget* parent = nullptr);

    void setSpec(const StatusBadgeSpec& spec);
    const StatusBadgeSpec& spec() const { return m_spec; }
    QLabel* word() const { return m_word; }
    Marker* stateMarker() const { return m_marker; }

    static constexpr int kDot = 7;
    static constexpr int kGap = 5;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    StatusBadgeSpec m_spec;
    QLabel* m_word;
    Marker* m_marker;
};

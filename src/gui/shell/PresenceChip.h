#pragma once

#include "core/gateway/Records.h"

#include <QColor>
#include <QString>
#include <QWidget>

class QLabel;

// Whether this computer's runner reaches the workspace gateway: a dot and a
// one-line text in the presence colour, on a capsule of that colour.
class PresenceChip : public QWidget {
    Q_OBJECT
public:
    explicit PresenceChip(QWidget* parent = nullptr);

    void setPresence(const AgentPresence& presence);
    QString text() const { return m_text; }

    static QString presenceText(const AgentPresence& presence);
    static QColor presenceColor(const AgentPresence& presence);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    static constexpr int kMaxTextWidth = 240;
    QString m_text;
    QColor m_colour;
};

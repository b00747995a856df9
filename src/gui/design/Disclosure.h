#pragma once

#include <QAbstractButton>
#include <QColor>
#include <QWidget>

class QHBoxLayout;
class QVBoxLayout;

// A folding section: a header with a chevron (pointing right when folded,
// down when open) and a title; the content shows only while open. The open
// state belongs to the widget and survives updates of its content.
class Disclosure : public QWidget {
    Q_OBJECT
public:
    Disclosure(const QString& title, QWidget* content, QWidget* parent = nullptr);

    bool isExpanded() const { return m_expanded; }
    void setExpanded(bool expanded);

    // The header's face and the tint of its chevron and title.
    void setHeaderFont(const QFont& font);
    void setTint(const QColor& tint);
    void setTitle(const QString& title);
    // A widget shown right of the header's title (counts, a note); the
    // disclosure takes it over.
    void setAccessory(QWidget* accessory);

    QAbstractButton* header() const { return m_header; }
    QWidget* content() const { return m_content; }

signals:
    void expandedChanged(bool expanded);

private:
    QAbstractButton* m_header;
    QHBoxLayout* m_headerRow;
    QWidget* m_content;
    bool m_expanded = false;
};

#pragma once

#include <QWidget>

class QLabel;
class ProseLabel;

// The title of a section, an optional subtitle line under it and optional
// controls at the trailing edge. Carries no identifier.
class SectionHeader : public QWidget {
    Q_OBJECT
public:
    explicit SectionHeader(const QString& title, const QString& subtitle = QString(), QWidget* trailing = nullptr,
        QWidget* parent = nullptr);

    QLabel* titleLabel() const { return m_title; }
    // Null when the header has no subtitle.
    ProseLabel* subtitleLabel() const { return m_subtitle; }
    QWidget* trailing() const { return m_trailing; }

private:
    QLabel* m_title;
    ProseLabel* m_subtitle = nullptr;
    QWidget* m_trailing;
};

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

private:
    QLabel* m_title;
    ProseLabel* m_subtitle = nullptr;
};

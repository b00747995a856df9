#pragma once

#include <QList>
#include <QMap>
#include <QPointer>
#include <QWidget>

class QVBoxLayout;

// A page of sections in a fixed order. Each section has a slot, given by its
// rank; a section is put into its slot whenever it comes to exist, and the
// page keeps the order whatever the order of arrival. An empty slot, or a
// hidden section, takes no space.
class SectionStack : public QWidget {
    Q_OBJECT
public:
    explicit SectionStack(int spacing, QWidget* parent = nullptr);

    // Puts `section` into slot `rank` (replacing and deleting what was there).
    // A non-zero alignment keeps the section at its own width.
    void setSection(int rank, QWidget* section, Qt::Alignment alignment = {});
    QWidget* section(int rank) const;
    // The sections in page order.
    QList<QWidget*> sections() const;

private:
    QVBoxLayout* m_layout;
    QMap<int, QPointer<QWidget>> m_slots;
};

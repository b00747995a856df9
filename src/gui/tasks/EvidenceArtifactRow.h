#pragma once

#include "core/gateway/TaskEvidence.h"

#include <QAbstractButton>

class ElidedLine;
class QLabel;

// One viewable file of a task's evidence, as a full-width row button on a
// faint rounded plate: a document symbol, the file name (and the full path
// when the file is in a folder), its size and a chevron. Identifier
// "evidence.open." + the file's path.
class EvidenceArtifactRow : public QAbstractButton {
    Q_OBJECT
public:
    explicit EvidenceArtifactRow(const DeskFileChange& file, QWidget* parent = nullptr);

    void setFile(const DeskFileChange& file);
    const DeskFileChange& file() const { return m_file; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    DeskFileChange m_file;
    // The same file again (every poll of the evidence brings it) changes nothing.
    bool m_filled = false;
    ElidedLine* m_name;
    ElidedLine* m_path;
    QLabel* m_bytes;
};

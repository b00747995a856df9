#pragma once

#include <QPlainTextEdit>
#include <QString>

#include <chrono>
#include <vector>

class QMimeData;
class QTimer;

// The read-only body of the artifact sheet: a plain-text view that takes a
// text of any size without holding up the window. Its beginning is shown at
// once and the rest is appended in slices over the turns that follow; a line
// longer than kBlockLength is shown in blocks of at most that length, cut
// between two characters (a letter keeps its marks, a flag its two letters)
// and where a line may wrap when there is such a place near the block's end,
// so that no layout measures more than one block. A
// selection copies (or drags) the text as it is, without those cuts (and
// with the CR LF pairs that the document keeps as one line end).
class ArtifactText : public QPlainTextEdit {
    Q_OBJECT
public:
    static constexpr qsizetype kBlockLength = 4096;

    explicit ArtifactText(QWidget* parent = nullptr);

    // Shows `text` in place of what was shown.
    void showText(const QString& text);
    // Part of the text is still to be appended.
    bool filling() const { return m_next < m_text.size(); }

signals:
    // The whole text is in the view.
    void filled();

protected:
    QMimeData* createMimeDataFromSelection() const override;

private:
    // Appends slices for about `budget`, at least one.
    void fill(std::chrono::milliseconds budget);
    // The next slice, from m_next on, with the cuts of long lines.
    QString slice();
    // The offset in the text of the document's position `position`.
    qsizetype offsetOf(int position) const;
    // The shift after the document's end.
    qsizetype shift() const;

    QString m_text;
    // The first character not yet appended.
    qsizetype m_next = 0;
    // Characters of the last block appended so far.
    qsizetype m_run = 0;
    // Where the document and the text part: from after document position
    // `at` on, the text's offset is the document's position plus `shift`.
    struct Shift {
        qsizetype at;
        qsizetype shift;
    };
    std::vector<Shift> m_shifts;
    QTimer* m_more;
};

#include "gui/tasks/ArtifactText.h"

#include <QElapsedTimer>
#include <QMimeData>
#include <QTextBoundaryFinder>
#include <QTextCursor>
#include <QTimer>

#include <algorithm>

using namespace std::chrono_literals;

namespace {

// A slice is inserted within a few milliseconds: so many characters, or so
// many lines (each a block of its own, which costs more than its characters).
constexpr qsizetype kSlice = 64 * 1024;
constexpr int kSliceLines = 512;

// What a text cursor takes as the end of a block.
bool endsBlock(QChar c)
{
    return c == QLatin1Char('\n') || c == QLatin1Char('\r') || c == QChar::ParagraphSeparator || c.unicode() == 0xfdd0
        || c.unicode() == 0xfdd1;
}

// What the boundary finders read past a block's end: enough for the rules
// that look at the characters after a boundary.
constexpr qsizetype kLookAhead = 32;

// Where a full block that starts at `start` (the start of a line or a cut,
// so a character boundary) and ends at `full` is cut, at `from` or later:
// where a line may wrap, looking back no further than a quarter of a block;
// else at the last character boundary. Both finders read from the block's
// start, so a flag's pair of letters or a letter's marks are judged as in
// the whole text. Only a character longer than the whole block is cut inside
// (never between the halves of a pair).
qsizetype blockCut(QStringView text, qsizetype start, qsizetype from, qsizetype full)
{
    const QStringView part = text.sliced(start, std::min(text.size(), full + kLookAhead) - start);
    QTextBoundaryFinder characters(QTextBoundaryFinder::Grapheme, part.data(), part.size());
    QTextBoundaryFinder wraps(QTextBoundaryFinder::Line, part.data(), part.size());
    const qsizetype last = full - start;
    const qsizetype first = std::max(from, full - ArtifactText::kBlockLength / 4) - start;
    wraps.setPosition(last + 1);
    for (qsizetype at = wraps.toPreviousBoundary(); at >= first && at > 0; at = wraps.toPreviousBoundary()) {
        characters.setPosition(at);
        if (characters.isAtBoundary())
            return start + at;
    }
    characters.setPosition(last + 1);
    const qsizetype at = characters.toPreviousBoundary();
    if (at > 0 && start + at >= from)
        return start + at;
    qsizetype cut = full;
    if (cut - 1 > from && text[cut - 1].isHighSurrogate())
        --cut;
    return cut;
}

} // namespace

ArtifactText::ArtifactText(QWidget* parent)
    : QPlainTextEdit(parent)
    , m_more(new QTimer(this))
{
    setReadOnly(true);
    // Slices appended through a cursor would otherwise each keep an undo step.
    document()->setUndoRedoEnabled(false);
    m_more->setSingleShot(true);
    m_more->setInterval(0);
    connect(m_more, &QTimer::timeout, this, [this] { fill(12ms); });
}

void ArtifactText::showText(const QString& text)
{
    m_more->stop();
    m_text = text;
    m_next = 0;
    m_run = 0;
    m_shifts.clear();
    // The first slice replaces what was shown, with the view at the top.
    setPlainText(slice());
    document()->setUndoRedoEnabled(false);
    if (filling())
        m_more->start();
    else
        emit filled();
}

void ArtifactText::fill(std::chrono::milliseconds budget)
{
    QElapsedTimer clock;
    clock.start();
    QTextCursor end(document());
    end.movePosition(QTextCursor::End);
    do {
        end.insertText(slice());
    } while (filling() && !clock.hasExpired(budget.count()));
    if (filling())
        m_more->start();
    else
        emit filled();
}

QString ArtifactText::slice()
{
    const QStringView text(m_text);
    const qsizetype end = std::min(text.size(), m_next + kSlice);
    QString out;
    out.reserve(end - m_next + (end - m_next) / kBlockLength + 2);
    qsizetype i = m_next;
    int lines = 0;
    while (i < end && lines < kSliceLines) {
        const qsizetype room = kBlockLength - m_run;
        const qsizetype limit = std::min(end, i + room);
        qsizetype j = i;
        while (j < limit && !endsBlock(text[j]))
            ++j;
        if (j < text.size() && endsBlock(text[j])) {
            // The line ends within the block (its end may be one or two characters past the slice).
            qsizetype next = j + 1;
            if (text[j] == QLatin1Char('\r') && next < text.size() && text[next] == QLatin1Char('\n')) {
                // One line end in the document for two characters of the text.
                m_shifts.push_back({ j - shift(), shift() + 1 });
                ++next;
            }
            out += text.sliced(i, next - i);
            m_run = 0;
            i = next;
            ++lines;
            continue;
        }
        if (j == text.size() || j - i < room) {
            // The text or the slice ends inside the block.
            out += text.sliced(i, j - i);
            m_run += j - i;
            i = j;
            continue;
        }
        // The block is full and the line goes on.
        const qsizetype cut = blockCut(text, i - m_run, i, j);
        out += text.sliced(i, cut - i);
        m_shifts.push_back({ cut - shift(), shift() - 1 });
        out += QLatin1Char('\n');
        m_run = 0;
        i = cut;
        ++lines;
    }
    m_next = i;
    return out;
}

qsizetype ArtifactText::shift() const
{
    return m_shifts.empty() ? 0 : m_shifts.back().shift;
}

qsizetype ArtifactText::offsetOf(int position) const
{
    // The last shift that starts before `position`.
    const auto after = std::lower_bound(
        m_shifts.begin(), m_shifts.end(), qsizetype(position), [](const Shift& s, qsizetype p) { return s.at < p; });
    const qsizetype shift = after == m_shifts.begin() ? 0 : std::prev(after)->shift;
    return std::clamp<qsizetype>(position + shift, 0, m_text.size());
}

QMimeData* ArtifactText::createMimeDataFromSelection() const
{
    const QTextCursor cursor = textCursor();
    if (!cursor.hasSelection())
        return QPlainTextEdit::createMimeDataFromSelection();
    const qsizetype from = offsetOf(cursor.selectionStart());
    const qsizetype to = offsetOf(cursor.selectionEnd());
    auto* data = new QMimeData;
    data->setText(m_text.sliced(from, to - from));
    return data;
}

#include "gui/tasks/ProgressTail.h"

#include "core/design/DS.h"
#include "core/design/DSFont.h"
#include "core/tasks/TaskCards.h"
#include "gui/design/DSText.h"
#include "gui/design/ElidedLabel.h"
#include "gui/design/Icon.h"
#include "gui/design/ProseLabel.h"

#include <QHBoxLayout>
#include <QHash>
#include <QLabel>
#include <QVBoxLayout>

namespace {

// One progress line: kind icon, action, and the first line of the detail.
class ProgressRow : public QWidget {
public:
    explicit ProgressRow(QWidget* parent)
        : QWidget(parent)
    {
        auto* row = new QHBoxLayout(this);
        row->setContentsMargins(0, 0, 0, 0);
        row->setSpacing(6);
        m_icon = new Icon(QStringLiteral("circle.dashed"), 10, DS::muted(0.45), this);
        m_icon->setFixedWidth(13);
        row->addWidget(m_icon, 0, Qt::AlignTop);
        m_action = DSText::label(QString(), DSFont::medium(11), DS::ink(), this);
        // The action keeps its room before the detail.
        m_action->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
        row->addWidget(m_action, 0, Qt::AlignTop);
        m_detail = new ElidedLabel(1, QString(), this);
        m_detail->setFont(DSFont::monoMedium(10));
        DSText::setColour(m_detail, DS::muted(0.45));
        m_detail->setMinimumWidth(0);
        row->addWidget(m_detail, 1);
        row->addStretch(0);
    }

    void setLine(const ProgressLine& line)
    {
        m_icon->setSymbol(TaskCards::kindIcon(line.kind));
        m_icon->setTint(TaskCards::kindColor(line.kind));
        m_action->setText(line.action);
        m_action->setAccessibleName(line.action);
        m_detail->setText(line.detail.isEmpty() ? QString() : TaskCards::oneLine(line.detail));
        m_detail->setVisible(!line.detail.isEmpty());
    }

private:
    Icon* m_icon;
    QLabel* m_action;
    ElidedLabel* m_detail;
};

} // namespace

ProgressTail::ProgressTail(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("runtimestate.progress"));
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(3);

    m_error = new ProseLabel(QString(), this);
    m_error->setTextFormat(Qt::RichText);
    m_error->setFont(DSFont::medium(11.5));
    DSText::setColour(m_error, DS::amber());
    stack->addWidget(m_error, 0, Qt::AlignLeft);

    m_lines = new QWidget(this);
    m_linesLayout = new QVBoxLayout(m_lines);
    m_linesLayout->setContentsMargins(0, 2, 0, 0);
    m_linesLayout->setSpacing(3);
    stack->addWidget(m_lines);

    m_truncated = DSText::label(
        QStringLiteral("（前面还有，这里只取了最后 200 行）"), DSFont::medium(10.5), DS::muted(0.4), this);
    stack->addWidget(m_truncated);

    m_empty = DSText::label(QStringLiteral("还没有进度上报。执行体是攒够一批才发的，刚起步时本来就是空的。"),
        DSFont::medium(11.5), DS::muted(0.5), this);
    m_empty->setWordWrap(true);
    stack->addWidget(m_empty);
}

void ProgressTail::setProgress(const QList<ProgressLine>& progress, const std::optional<QString>& error, bool truncated)
{
    if (error) {
        DSText::setMarkup(
            m_error, QStringLiteral("进度读不到（") + *error + QStringLiteral("）。这**不等于**它停住了。"));
    }
    m_error->setVisible(error.has_value());
    const QList<ProgressLine> lines = error ? QList<ProgressLine> {} : TaskCards::tailLines(progress);
    m_lines->setVisible(!lines.isEmpty());
    m_truncated->setVisible(!lines.isEmpty() && truncated);
    m_empty->setVisible(!error && lines.isEmpty());

    // Lines are kept by sequence number (a repeated number by its occurrence).
    QHash<qint64, int> seen;
    auto keyOf = [&seen](const ProgressLine& line) {
        return QString::number(line.seq) + QLatin1Char('#') + QString::number(seen[line.seq]++);
    };
    const QList<QWidget*> rows = m_rows.reconcile(
        lines, keyOf, [this](const ProgressLine&) -> QWidget* { return new ProgressRow(m_lines); },
        [](QWidget* row, const ProgressLine& line) { static_cast<ProgressRow*>(row)->setLine(line); });
    KeyedLayout::place(m_linesLayout, rows);
}

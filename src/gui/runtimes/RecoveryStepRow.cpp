#include "gui/runtimes/RecoveryStepRow.h"

#include "core/design/DS.h"
#include "core/design/DSFont.h"
#include "gui/design/AnywhereLabel.h"
#include "gui/design/BusyIndicator.h"
#include "gui/design/DSText.h"
#include "gui/design/Icon.h"

#include <QHBoxLayout>
#include <QLabel>

using State = RecoveryRunner::State;

namespace {

constexpr qreal kIconSize = 12;
constexpr int kTitleWidth = 132;
constexpr int kSpacing = 8;

} // namespace

RecoveryStepRow::RecoveryStepRow(const QString& id, int width, QWidget* parent)
    : QWidget(parent)
    , m_width(width)
{
    setObjectName(id);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(kSpacing);

    // The icon and the spinner share one box, so the texts never move.
    auto* mark = new QWidget(this);
    const int box = Icon::boxFor(kIconSize);
    mark->setFixedSize(box, box);
    m_icon = new Icon(QStringLiteral("circle.dotted"), kIconSize, DS::muted(0.3), mark);
    m_icon->setGeometry(0, 0, box, box);
    const int spin = box - 4;
    m_spinner = new BusyIndicator(DS::muted(0.7), spin, mark);
    m_spinner->setGeometry((box - spin) / 2, (box - spin) / 2, spin, spin);
    m_spinner->hide();
    row->addWidget(mark, 0, Qt::AlignTop);

    m_title = DSText::label(QString(), DSFont::semiBold(12), DS::ink(), this);
    m_title->setFixedWidth(kTitleWidth);
    row->addWidget(m_title, 0, Qt::AlignTop);

    // What a step found may be a path or a tool's line without a space: it wraps inside itself.
    auto* detail = new AnywhereLabel(this);
    detail->setSelectable();
    detail->setFont(DSFont::medium(11.5));
    DSText::setColour(detail, DS::muted(0.6));
    m_detail = detail;
    m_detail->setObjectName(QStringLiteral("recovery.detail"));
    m_detail->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    row->addWidget(m_detail, 1, Qt::AlignTop);
}

QString RecoveryStepRow::stateWord(State state)
{
    switch (state) {
    case State::Ok:
        return QStringLiteral("ok");
    case State::NeedsYou:
        return QStringLiteral("needs_you");
    case State::Failed:
        return QStringLiteral("failed");
    case State::Pending:
        return QStringLiteral("pending");
    case State::Running:
        return QStringLiteral("running");
    }
    return QString();
}

void RecoveryStepRow::setStep(const RecoveryRunner::Step& step)
{
    setAccessibleName(step.title + QLatin1Char(' ') + stateWord(step.state));
    m_title->setText(step.title);

    switch (step.state) {
    case State::Ok:
        m_icon->setSymbol(QStringLiteral("checkmark.circle.fill"));
        m_icon->setTint(DS::mint());
        break;
    case State::NeedsYou:
        m_icon->setSymbol(QStringLiteral("hand.raised.fill"));
        m_icon->setTint(DS::amber());
        break;
    case State::Failed:
        m_icon->setSymbol(QStringLiteral("xmark.octagon.fill"));
        m_icon->setTint(DS::danger());
        break;
    case State::Pending:
        m_icon->setSymbol(QStringLiteral("circle.dotted"));
        m_icon->setTint(DS::muted(0.3));
        break;
    case State::Running:
        break;
    }
    const bool running = step.state == State::Running;
    m_icon->setVisible(!running);
    m_spinner->setVisible(running);

    switch (step.state) {
    case State::Running:
        m_detail->setText(QStringLiteral("正在做…"));
        break;
    case State::Pending:
        m_detail->setText(QStringLiteral("等着"));
        break;
    default:
        m_detail->setText(step.detail);
        break;
    }
    // The sheet fixes its height from its rows' sizes; a row whose text just
    // grew must say so at once, or it is squeezed and its text cut.
    const int detailWidth = m_width - Icon::boxFor(kIconSize) - 2 * kSpacing - kTitleWidth;
    setMinimumHeight(qMax(m_title->sizeHint().height(), m_detail->heightForWidth(detailWidth)));
}

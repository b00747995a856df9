#include "gui/workspaces/RelocationBanner.h"

#include "core/design/DS.h"
#include "core/design/DSFont.h"
#include "core/workspaces/RelocationState.h"
#include "gui/design/DSText.h"
#include "gui/design/Icon.h"
#include "gui/design/ProseLabel.h"
#include "gui/design/RoundedPlate.h"
#include "gui/design/SecondaryButton.h"
#include "gui/design/Style.h"
#include "gui/platform/Prompts.h"

#include <QAbstractButton>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

namespace {

// One candidate folder: a plain button whose face is the row itself — folder
// symbol, the path (cut in the middle when long) and "选它".
class CandidateRow : public QAbstractButton {
public:
    explicit CandidateRow(QWidget* parent)
        : QAbstractButton(parent)
    {
        setCursor(Qt::PointingHandCursor);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        setAttribute(Qt::WA_Hover);
    }

    void setPath(const QString& path)
    {
        setObjectName(QStringLiteral("workspace.relocate.candidate.") + path);
        setText(path);
        setAccessibleName(path);
        setToolTip(path);
        update();
    }

    QSize sizeHint() const override
    {
        const QFontMetrics mono(DSFont::monoMedium(10.5));
        return { 240, qMax(mono.height(), Icon::boxFor(10)) + 2 * kVertical };
    }
    QSize minimumSizeHint() const override { return { 120, sizeHint().height() }; }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        Style::paintPlate(p, QRectF(rect()), 6, DS::muted(underMouse() || isDown() ? 0.1 : 0.06));
        if (hasFocus())
            Style::paintFocusRing(p, QRectF(rect()), 6);

        const int box = Icon::boxFor(10);
        int x = kHorizontal;
        const QPixmap folder = Icon::pixmap(QStringLiteral("folder"), box, DS::muted(0.5), devicePixelRatioF());
        p.drawPixmap(x, (height() - box) / 2, folder);
        x += box + 6;

        const QFont choiceFont = DSFont::medium(10.5);
        const QString choice = QStringLiteral("选它");
        const int choiceWidth = QFontMetrics(choiceFont).horizontalAdvance(choice);
        const int choiceX = width() - kHorizontal - choiceWidth;
        p.setFont(choiceFont);
        p.setPen(DS::mint());
        p.drawText(QRect(choiceX, 0, choiceWidth, height()), Qt::AlignVCenter | Qt::AlignLeft, choice);

        const QFont mono = DSFont::monoMedium(10.5);
        const int pathWidth = qMax(0, choiceX - 4 - 6 - x);
        p.setFont(mono);
        p.setPen(DS::ink());
        p.drawText(QRect(x, 0, pathWidth, height()), Qt::AlignVCenter | Qt::AlignLeft,
            QFontMetrics(mono).elidedText(text(), Qt::ElideMiddle, pathWidth));
    }

private:
    static constexpr int kHorizontal = 8;
    static constexpr int kVertical = 5;
};

// The retry button changes its words while a search runs.
class RetryButton : public SecondaryButton {
public:
    using SecondaryButton::SecondaryButton;

    void setWords(const QString& words)
    {
        setText(words);
        setAccessibleName(words);
        setShownText(words);
    }
};

QLabel* selectable(QLabel* label)
{
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setCursor(Qt::IBeamCursor);
    return label;
}

} // namespace

RelocationBanner::RelocationBanner(RelocationState* state, QWidget* parent)
    : QWidget(parent)
    , m_state(state)
{
    setObjectName(QStringLiteral("workspace.moved"));
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(20, 0, 20, 0);
    auto* frame = new RoundedPlate(DS::at(DS::amber(), 0.1), 12, DS::at(DS::amber(), 0.3), this);
    outer->addWidget(frame);
    auto* stack = new QVBoxLayout(frame);
    stack->setContentsMargins(12, 12, 12, 12);
    stack->setSpacing(8);

    auto* title = new QHBoxLayout;
    title->setSpacing(6);
    auto* icon = new Icon(QStringLiteral("shippingbox"), 12, DS::amber(), frame);
    title->addWidget(icon, 0, Qt::AlignVCenter);
    title->addWidget(DSText::label(QStringLiteral("工作区已移动"), DSFont::bold(13.5), DS::ink(), frame));
    title->addStretch(1);
    stack->addLayout(title);

    auto* explanation = new ProseLabel(QString(), frame);
    explanation->setTextFormat(Qt::RichText);
    explanation->setText(explanationHtml());
    explanation->setFont(DSFont::medium(11.5));
    DSText::setColour(explanation, DS::muted(0.6));
    stack->addWidget(explanation, 0, Qt::AlignLeft);

    m_previous = selectable(DSText::label(QString(), DSFont::monoMedium(10.5), DS::muted(0.45), frame));
    m_previous->setWordWrap(true);
    stack->addWidget(m_previous);

    m_note = selectable(DSText::label(QString(), DSFont::medium(11.5), DS::amber(), frame));
    m_note->setObjectName(QStringLiteral("workspace.moved.note"));
    m_note->setWordWrap(true);
    stack->addWidget(m_note);

    m_matchBox = new RoundedPlate(DS::at(DS::mint(), 0.08), 8, QColor(), frame);
    m_matchBox->setObjectName(QStringLiteral("workspace.relocate.confirmbox"));
    auto* match = new QVBoxLayout(m_matchBox);
    match->setContentsMargins(10, 10, 10, 10);
    match->setSpacing(6);
    match->addWidget(
        DSText::label(QStringLiteral("找到了一个匹配的目录。是它吗？"), DSFont::semiBold(12), DS::ink(), m_matchBox));
    m_pending = selectable(DSText::label(QString(), DSFont::monoMedium(10.5), DS::mint(), m_matchBox));
    m_pending->setObjectName(QStringLiteral("workspace.relocate.pending"));
    m_pending->setWordWrap(true);
    match->addWidget(m_pending);
    auto* answers = new QHBoxLayout;
    answers->setSpacing(8);
    answers->addWidget(new SecondaryButton(
        QStringLiteral("就是它，恢复"), QStringLiteral("workspace.relocate.confirm"),
        [this] { m_state->confirmRelocation(m_state->relocatePending()); }, m_matchBox));
    answers->addWidget(new SecondaryButton(
        QStringLiteral("不是"), QStringLiteral("workspace.relocate.reject"), [this] { m_state->rejectMatch(); },
        m_matchBox));
    answers->addStretch(1);
    match->addLayout(answers);
    stack->addWidget(m_matchBox);

    m_candidatesBox = new RoundedPlate(DS::at(DS::amber(), 0.08), 8, QColor(), frame);
    m_candidatesBox->setObjectName(QStringLiteral("workspace.relocate.candidates"));
    auto* candidates = new QVBoxLayout(m_candidatesBox);
    candidates->setContentsMargins(10, 10, 10, 10);
    candidates->setSpacing(6);
    candidates->addWidget(DSText::label(
        QStringLiteral("找到了几个可能的位置。是哪一个？"), DSFont::semiBold(12), DS::ink(), m_candidatesBox));
    QLabel* warning = DSText::label(QStringLiteral("Tolvarine 不替你选：绑错目录会让 AI 员工去改另一个项目的代码。"),
        DSFont::medium(10.5), DS::muted(0.5), m_candidatesBox);
    warning->setWordWrap(true);
    candidates->addWidget(warning);
    m_candidateRows = new QVBoxLayout;
    m_candidateRows->setSpacing(6);
    candidates->addLayout(m_candidateRows);
    stack->addWidget(m_candidatesBox);

    auto* actions = new QHBoxLayout;
    actions->setSpacing(8);
    m_folder = new SecondaryButton(
        QStringLiteral("重新定位工作区"), QStringLiteral("workspace.relocate"), [this] { pickFolder(); }, frame);
    actions->addWidget(m_folder);
    m_retry = new RetryButton(
        QStringLiteral("再自动找一次"), QStringLiteral("workspace.relocate.auto"), [this] { m_state->autoRelocate(); },
        frame);
    actions->addWidget(m_retry);
    actions->addStretch(1);
    stack->addLayout(actions);

    connect(m_state, &RelocationState::changed, this, &RelocationBanner::refresh);
    refresh();
}

QString RelocationBanner::explanationHtml()
{
    const QString lead = QStringLiteral(
        "Tolvarine 在原来的位置找不到这个工作区的目录了。它可能被移动、改名、删除，或者所在的磁盘没有挂上。");
    const QString rest = QStringLiteral("工作区的身份不在目录上：AI 员工、任务、时间线、手机上的连接都还在，");
    return lead.toHtmlEscaped() + QStringLiteral("<br>") + rest.toHtmlEscaped()
        + QStringLiteral("<b>不需要重新扫码</b>。");
}

QList<QAbstractButton*> RelocationBanner::candidateRows() const
{
    return m_rows.widgets();
}

void RelocationBanner::pickFolder()
{
    QPointer<RelocationBanner> self(this);
    m_state->pickNewLocation([self, start = m_state->pickerStartFolder()]() -> QCoro::Task<std::optional<QString>> {
        return Prompts::shared().pickFolder(self ? self->window() : nullptr, QStringLiteral("就是这个目录"), start,
            QStringLiteral("选择这个工作区现在所在的目录"));
    });
}

void RelocationBanner::refresh()
{
    const bool shown = m_state->shown();
    setVisible(shown);
    if (!shown)
        return;

    const CLIConfig& config = m_state->workspace()->config;
    m_previous->setText(QStringLiteral("原来的位置：") + (config.path ? *config.path : QStringLiteral("—")));

    const QString note = m_state->relocateNote();
    m_note->setText(note);
    m_note->setAccessibleName(note);
    m_note->setVisible(!note.isEmpty());

    const QString pending = m_state->relocatePending();
    m_pending->setText(pending);
    m_matchBox->setVisible(!pending.isEmpty());

    const QStringList paths = m_state->relocateCandidates().size() >= 2 ? m_state->relocateCandidates() : QStringList();
    const QList<QAbstractButton*> rows = m_rows.reconcile(
        paths, [](const QString& p) { return p; },
        [this](const QString&) -> QAbstractButton* {
            auto* row = new CandidateRow(m_candidatesBox);
            connect(row, &QAbstractButton::clicked, this, [this, row] { m_state->confirmRelocation(row->text()); });
            return row;
        },
        [](QAbstractButton* row, const QString& p) { static_cast<CandidateRow*>(row)->setPath(p); });
    KeyedLayout::place(m_candidateRows, rows);
    m_candidatesBox->setVisible(!paths.isEmpty());

    const bool busy = m_state->relocateBusy();
    static_cast<RetryButton*>(m_retry)->setWords(busy ? QStringLiteral("正在找…") : QStringLiteral("再自动找一次"));
    // While a folder is being applied, neither another folder nor a search.
    const bool rebinding = m_state->rebindBusy();
    m_folder->setEnabled(!rebinding);
    m_retry->setEnabled(!busy && !rebinding);
}

#include "gui/shell/WorkspaceSummaryBar.h"

#include "core/design/DS.h"
#include "core/design/DSFont.h"
#include "core/shell/WorkspaceSummaryModel.h"
#include "gui/design/DSText.h"
#include "gui/design/Icon.h"
#include "gui/design/KeyedReconciler.h"
#include "gui/design/SecondaryButton.h"
#include "gui/design/Style.h"

#include <QAbstractButton>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QStringList>
#include <QVBoxLayout>

namespace {

const QString kSep = QStringLiteral(" · ");

QColor pendingColour()
{
    return DS::muted(0.4);
}

// The symbol and text of one attention row, in a horizontal line.
QHBoxLayout* fillLine(QWidget* host, const QString& symbol, bool withChevron)
{
    auto* row = new QHBoxLayout(host);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(6);
    row->addWidget(new Icon(symbol, 10, DS::amber(), host), 0, Qt::AlignVCenter);
    auto* text = DSText::label(QString(), DSFont::medium(11.5), DS::muted(0.75), host);
    text->setObjectName(QStringLiteral("text"));
    text->setAttribute(Qt::WA_TransparentForMouseEvents);
    row->addWidget(text, 0, Qt::AlignVCenter);
    if (withChevron)
        row->addWidget(new Icon(QStringLiteral("chevron.right"), 8, DS::muted(0.35), host), 0, Qt::AlignVCenter);
    return row;
}

// A row that only informs.
class PlainLine : public QWidget {
public:
    PlainLine(const QString& symbol, QWidget* parent)
        : QWidget(parent)
    {
        fillLine(this, symbol, false);
        setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
    }
};

// A row that leads somewhere: no chrome, the whole line is the button.
class LinkLine : public QAbstractButton {
public:
    LinkLine(const QString& symbol, QWidget* parent)
        : QAbstractButton(parent)
    {
        fillLine(this, symbol, true);
        setCursor(Qt::PointingHandCursor);
        setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
    }

    QSize sizeHint() const override { return layout()->sizeHint(); }
    QSize minimumSizeHint() const override { return layout()->minimumSize(); }

protected:
    void paintEvent(QPaintEvent*) override
    {
        if (!hasFocus())
            return;
        // Keyboard focus needs to be seen; the mouse look stays plain.
        QPainter p(this);
        Style::paintFocusRing(p, QRectF(rect()), 4.5);
    }
};

void setLineText(QWidget* line, const QString& text)
{
    if (auto* label = line->findChild<QLabel*>(QStringLiteral("text")))
        label->setText(text);
    line->setAccessibleName(text);
    if (auto* button = qobject_cast<QAbstractButton*>(line))
        button->setText(text);
}

// A titled column of the top row.
QWidget* block(const QString& title, const QString& identifier, QWidget* value, QWidget* parent)
{
    auto* box = new QWidget(parent);
    box->setObjectName(identifier);
    auto* column = new QVBoxLayout(box);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(3);
    column->addWidget(DSText::label(title, DSFont::semiBold(10.5), DS::muted(0.45), box));
    value->setParent(box);
    column->addWidget(value);
    return box;
}

} // namespace

// ---------------------------------------------------------------- texts

QString WorkspaceSummaryBar::employeeLine(const WorkspaceSummary& s)
{
    QStringList parts { QString::number(s.employeesTotal) + QStringLiteral(" 名") };
    if (s.employeesWorking >= 1)
        parts.append(QString::number(s.employeesWorking) + QStringLiteral(" 工作中"));
    if (s.employeesIdle >= 1)
        parts.append(QString::number(s.employeesIdle) + QStringLiteral(" 空闲"));
    if (s.employeesNoReading >= 1)
        parts.append(QString::number(s.employeesNoReading) + QStringLiteral(" 没有读数"));
    return parts.join(kSep);
}

QString WorkspaceSummaryBar::runtimeLine(const WorkspaceSummary& s)
{
    QStringList parts {
        QString::number(s.runtimesInstalled) + QStringLiteral(" 已安装"),
        QString::number(s.runtimesConfigured) + QStringLiteral(" 已配置"),
        QString::number(s.runtimesUsable) + QStringLiteral(" 可用"),
    };
    if (s.runtimesRunning >= 1)
        parts.append(QString::number(s.runtimesRunning) + QStringLiteral(" 运行中"));
    if (s.runtimesDisabled >= 1)
        parts.append(QString::number(s.runtimesDisabled) + QStringLiteral(" 已停用"));
    return parts.join(kSep);
}

QString WorkspaceSummaryBar::ageWord(qint64 seconds)
{
    if (seconds < 10)
        return QStringLiteral("刚问过");
    if (seconds < 90)
        return QString::number(seconds) + QStringLiteral(" 秒前问的");
    return QString::number(seconds / 60) + QStringLiteral(" 分钟前问的");
}

QList<WorkspaceSummaryBar::AttentionRow> WorkspaceSummaryBar::attentionRows(const WorkspaceSummary& s)
{
    QList<AttentionRow> rows;
    if (s.workspaceUnavailable)
        rows.append({ QStringLiteral("shippingbox"), QStringLiteral("工作区目录不可用 —— 先把它找回来"), {} });
    // Whether a runner is online is known only from a runner list that was read.
    if (s.agentOffline && s.runners == WorkspaceSummary::Runners::read)
        rows.append({ QStringLiteral("bolt.slash"), QStringLiteral("这个工作区里没有在线的执行体"), {} });
    else if (s.agentOffline && s.runners == WorkspaceSummary::Runners::unreadable)
        rows.append(
            { QStringLiteral("bolt.slash"), QStringLiteral("读不到这个工作区的执行体 —— 不知道有没有在线的"), {} });
    if (s.agentServiceRunning == false)
        rows.append({ QStringLiteral("gearshape.2"), QStringLiteral("Agent Service 没在跑 —— 任务不会有人接"), {} });
    if (s.pendingApprovals >= 1)
        rows.append(
            { QStringLiteral("hand.raised"), QString::number(s.pendingApprovals) + QStringLiteral(" 个审批等你点头"),
                QStringLiteral("summary.attention.approvals") });
    if (s.failedTasks >= 1)
        rows.append(
            { QStringLiteral("xmark.octagon"), QString::number(s.failedTasks) + QStringLiteral(" 条失败等你决定"),
                QStringLiteral("summary.attention.failed") });
    if (s.runtimesNeedingLogin >= 1)
        rows.append({ QStringLiteral("key"),
            QString::number(s.runtimesNeedingLogin) + QStringLiteral(" 个 Runtime 需要登录或配置"),
            QStringLiteral("summary.attention.runtimes") });
    return rows;
}

// ---------------------------------------------------------------- widget

WorkspaceSummaryBar::WorkspaceSummaryBar(const WorkspaceSummaryModel* model, QWidget* parent)
    : WorkspaceSummaryBar(parent)
{
    setSummary(model->summary());
    connect(model, &WorkspaceSummaryModel::changed, this, [this, model] { setSummary(model->summary()); });
}

WorkspaceSummaryBar::WorkspaceSummaryBar(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("workspace.summary"));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Maximum);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(14, 11, 14, 11);
    outer->setSpacing(8);

    auto* top = new QHBoxLayout;
    top->setContentsMargins(0, 0, 0, 0);
    top->setSpacing(22);
    outer->addLayout(top);

    m_employeeValue = DSText::label(QString(), DSFont::medium(12), DS::ink(), this);
    top->addWidget(
        block(QStringLiteral("AI 员工"), QStringLiteral("summary.employees"), m_employeeValue, this), 0, Qt::AlignTop);

    auto* runtimeValue = new QWidget(this);
    auto* runtimeColumn = new QVBoxLayout(runtimeValue);
    runtimeColumn->setContentsMargins(0, 0, 0, 0);
    runtimeColumn->setSpacing(1);
    m_runtimeValue = DSText::label(QString(), DSFont::medium(12), DS::ink(), runtimeValue);
    m_runtimeAge = DSText::label(QString(), DSFont::medium(10), DS::muted(0.35), runtimeValue);
    m_runtimeAge->setObjectName(QStringLiteral("summary.runtimes.age"));
    runtimeColumn->addWidget(m_runtimeValue);
    runtimeColumn->addWidget(m_runtimeAge);
    top->addWidget(
        block(QStringLiteral("Runtime"), QStringLiteral("summary.runtimes"), runtimeValue, this), 0, Qt::AlignTop);

    top->addStretch(1);

    auto* recover = new SecondaryButton(
        QStringLiteral("检查并恢复"), QStringLiteral("workspace.recover"), [this] { emit recoveryRequested(); }, this);
    recover->setToolTip(
        QStringLiteral("一次把能自己修的都修掉：目录、Agent Service、Runtime、重新连上。真正需要你的会集中列在最后。"));
    top->addWidget(recover, 0, Qt::AlignTop);

    m_attention = new QWidget(this);
    m_attention->setObjectName(QStringLiteral("workspace.summary.attention"));
    m_attentionRows = new QVBoxLayout(m_attention);
    m_attentionRows->setContentsMargins(0, 0, 0, 0);
    m_attentionRows->setSpacing(4);
    m_attentionRows->addWidget(
        DSText::label(QStringLiteral("需要处理"), DSFont::semiBold(11), DS::amber(), m_attention));
    outer->addWidget(m_attention);

    apply();
}

void WorkspaceSummaryBar::setSummary(const WorkspaceSummary& summary)
{
    if (summary == m_summary)
        return;
    m_summary = summary;
    apply();
}

void WorkspaceSummaryBar::apply()
{
    const WorkspaceSummary& s = m_summary;

    const bool pendingTeam = !s.teamLoaded || s.employeesTotal == 0;
    m_employeeValue->setText(!s.teamLoaded ? QStringLiteral("还没读到员工")
            : s.employeesTotal != 0        ? employeeLine(s)
                                           : QStringLiteral("还没有员工"));
    DSText::setColour(m_employeeValue, pendingTeam ? pendingColour() : DS::ink());

    if (!s.runtimeInventoryLoaded) {
        m_runtimeValue->setText(QStringLiteral("还在问这台机器"));
        DSText::setColour(m_runtimeValue, pendingColour());
        m_runtimeAge->hide();
    } else if (s.runtimeInventoryUnreadable) {
        // Counts from a list that could not be read would say "none" for "unknown".
        m_runtimeValue->setText(QStringLiteral("读不到这台电脑上的 Runtime 清单"));
        DSText::setColour(m_runtimeValue, DS::amber());
    } else {
        m_runtimeValue->setText(runtimeLine(s));
        DSText::setColour(m_runtimeValue, DS::ink());
    }
    if (s.runtimeInventoryLoaded) {
        if (s.runtimeAgeSeconds) {
            m_runtimeAge->setText(ageWord(*s.runtimeAgeSeconds));
            m_runtimeAge->show();
        } else {
            m_runtimeAge->hide();
        }
    }

    const QList<AttentionRow> rows = attentionRows(s);
    const QList<QWidget*> lines = m_lines.reconcile(
        rows, [](const AttentionRow& r) { return r.symbol; },
        [this](const AttentionRow& r) -> QWidget* {
            if (r.identifier.isEmpty())
                return new PlainLine(r.symbol, m_attention);
            auto* link = new LinkLine(r.symbol, m_attention);
            link->setObjectName(r.identifier);
            // Each symbol always leads to the same place.
            if (r.identifier == QLatin1String("summary.attention.approvals"))
                connect(link, &QAbstractButton::clicked, this, &WorkspaceSummaryBar::approvalsRequested);
            else if (r.identifier == QLatin1String("summary.attention.failed"))
                connect(link, &QAbstractButton::clicked, this, &WorkspaceSummaryBar::failedTasksRequested);
            else
                connect(link, &QAbstractButton::clicked, this, &WorkspaceSummaryBar::runtimesRequested);
            return link;
        },
        [](QWidget* line, const AttentionRow& r) { setLineText(line, r.text); });
    // After the header.
    KeyedLayout::place(m_attentionRows, lines, 1);
    for (QWidget* line : lines)
        m_attentionRows->setAlignment(line, Qt::AlignLeft);
    m_attention->setVisible(!rows.isEmpty());
}

void WorkspaceSummaryBar::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    Style::paintPlate(p, QRectF(rect()), 12, DS::muted(0.05));
}

#include "gui/tasks/PermList.h"

#include "core/design/DS.h"
#include "core/design/DSFont.h"
#include "gui/design/AimGuard.h"
#include "gui/design/DSText.h"
#include "gui/design/DiagRow.h"
#include "gui/design/Disclosure.h"
#include "gui/design/EmptyState.h"
#include "gui/design/ErrorBanner.h"
#include "gui/design/FaceButton.h"
#include "gui/design/ProseLabel.h"
#include "gui/tasks/PermTierRow.h"

#include <QLabel>
#include <QVBoxLayout>

namespace {

ProseLabel* rule(const QString& markup, QWidget* parent)
{
    auto* label = new ProseLabel(QString(), parent);
    DSText::setMarkup(label, markup);
    label->setFont(DSFont::medium(11.5));
    DSText::setColour(label, DS::muted(0.55));
    return label;
}

} // namespace

PermList::PermList(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("perms.list"));
    m_aim = new AimGuard(this);
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(12);

    m_error = new ErrorBanner(
        QStringLiteral("读不到权限状态。这不等于所有档都关着。"), std::nullopt, QStringLiteral("perms.error"), this);
    m_error->hide();
    stack->addWidget(m_error);

    m_intro = new ProseLabel(
        QStringLiteral("除「删除 / 迁移数据」以外的各档，一开就一直有效，执行体做这些事时不会再来问你。"
                       "删除与迁移数据是另一回事，永远不自动。"),
        this);
    m_intro->setFont(DSFont::medium(11.5));
    DSText::setColour(m_intro, DS::muted(0.5));
    stack->addWidget(m_intro, 0, Qt::AlignLeft);

    m_rowsBox = new QWidget(this);
    m_rowsLayout = new QVBoxLayout(m_rowsBox);
    m_rowsLayout->setContentsMargins(0, 0, 0, 0);
    m_rowsLayout->setSpacing(10);
    stack->addWidget(m_rowsBox);

    auto* rulesBody = new QWidget;
    auto* rules = new QVBoxLayout(rulesBody);
    rules->setContentsMargins(0, 6, 0, 0);
    rules->setSpacing(8);
    rules->addWidget(rule(QStringLiteral("**删除与迁移数据永远不自动。** 它不可逆。网关把它排除在远程授权之外："
                                         "没有任何机器声明过它时，手机怎么点都开不了，只能在这台机器上用下面那个按钮"
                                         "（等同于终端里的 `brenlow grant danger`）。声明过之后它会变成「等你确认」，"
                                         "那一下仍然要有人亲自点。"),
                         rulesBody),
        0, Qt::AlignLeft);
    rules->addWidget(
        rule(QStringLiteral("**除「删除 / 迁移数据」外的各档都会自动完成**：手机那边一发起就生效，"
                            "这个窗口不再拦一道——多拦这一次挡不住任何人（能发起的人已经握着工作区令牌了），"
                            "只是逼你在两块屏上各点一次。自动开过的档会写明「已自动批准」和时刻，随时可以收回。"),
            rulesBody),
        0, Qt::AlignLeft);
    rules->addWidget(rule(QStringLiteral("每一档下面那句「本次…」说的是**这一趟进度流里看见了什么**，"
                                         "不是「这件事需要什么权限」——系统里没有后者那个信号。"
                                         "进度会截断也会漏，**看不到不等于没发生**。"),
                         rulesBody),
        0, Qt::AlignLeft);
    auto* usageBox = new QWidget(rulesBody);
    usageBox->setFont(DSFont::monoMedium(10.5));
    m_usageLayout = new QVBoxLayout(usageBox);
    m_usageLayout->setContentsMargins(0, 2, 0, 0);
    m_usageLayout->setSpacing(3);
    rules->addWidget(usageBox);
    m_rules = new Disclosure(QStringLiteral("这些档背后的规则"), rulesBody, this);
    m_rules->setObjectName(QStringLiteral("perms.rules"));
    m_rules->setHeaderFont(DSFont::semiBold(11));
    m_rules->setTint(DS::muted(0.5));
    stack->addWidget(m_rules);

    m_empty = new EmptyState(EmptyState::Kind::emptyButHealthy,
        QStringLiteral("还没有权限记录。有机器上线跑一次就会建。"), std::nullopt, this);
    m_empty->setObjectName(QStringLiteral("perms.empty"));
    stack->addWidget(m_empty);
}

void PermList::setContent(const Content& c)
{
    m_aim->aboutToChange();
    // An unreadable state wins over rows an earlier load left behind.
    const bool failed = c.permsError.has_value();
    const bool rows = !failed && !c.perms.isEmpty();
    m_error->setVisible(failed);
    if (failed)
        m_error->setContent(QStringLiteral("读不到权限状态。这不等于所有档都关着。"), c.permsError);
    m_intro->setVisible(rows);
    m_rowsBox->setVisible(rows);
    m_rules->setVisible(rows);
    m_empty->setVisible(!failed && c.perms.isEmpty());
    const QList<PermRow> shown = rows ? c.perms : QList<PermRow> {};

    const QList<PermTierRow*> tierRows = m_rows.reconcile(
        shown, [](const PermRow& r) { return r.key; },
        [this](const PermRow& r) {
            auto* row = new PermTierRow(r.key, m_rowsBox);
            connect(row, &PermTierRow::actionRequested, this, &PermList::actionRequested);
            return row;
        },
        [&c](PermTierRow* row, const PermRow& r) {
            const PermActionState action = c.action ? c.action(r.key) : PermActionState::idle();
            const bool autoFailed = c.autoFailed.contains(r.key);
            PermTierRow::Content content;
            content.row = r;
            content.autoFailed = autoFailed;
            content.unenforceable = PermPresentation::unenforceableNote(r.key, c.runtimes);
            content.buttons = PermPresentation::permButtons(r, autoFailed);
            content.busy = c.busy ? c.busy(r.key) : action.isWorking();
            content.feedback = PermPresentation::rowFeedback(action,
                c.autoConfirmed.contains(r.key) ? std::optional<QDateTime>(c.autoConfirmed.value(r.key)) : std::nullopt,
                autoFailed ? std::optional<QString>(c.autoFailed.value(r.key)) : std::nullopt);
            row->setContent(content);
        });
    KeyedLayout::place(m_rowsLayout, tierRows);
    for (PermTierRow* row : tierRows) {
        for (FaceButton* button : row->buttons())
            m_aim->watch(button, row->objectName() + QLatin1Char('\n') + button->text());
    }

    const QList<DiagRow*> usage = m_usage.reconcile(
        shown, [](const PermRow& r) { return r.key; },
        [this](const PermRow& r) { return new DiagRow(r.title, QString(), m_usageLayout->parentWidget()); },
        [&c](DiagRow* row, const PermRow& r) {
            row->keyLabel()->setText(r.title);
            row->valueLabel()->setText(PermPresentation::usageLabel(c.usage.value(r.key)));
        });
    KeyedLayout::place(m_usageLayout, usage);
}

#include "gui/runtimes/RuntimeCard.h"

#include "core/design/DS.h"
#include "core/design/DSFont.h"
#include "core/design/StatusBadgeLook.h"
#include "core/runtimes/RuntimeCardText.h"
#include "core/runtimes/RuntimeSectionModel.h"
#include "gui/design/AimGuard.h"
#include "gui/design/Chip.h"
#include "gui/design/ClearLayout.h"
#include "gui/design/DSText.h"
#include "gui/design/DangerButton.h"
#include "gui/design/DiagRow.h"
#include "gui/design/Disclosure.h"
#include "gui/design/ElidedLabel.h"
#include "gui/design/FlowLayout.h"
#include "gui/design/OutcomeLine.h"
#include "gui/design/PrimaryButton.h"
#include "gui/design/SecondaryButton.h"
#include "gui/design/StatusBadge.h"
#include "gui/platform/Prompts.h"
#include "gui/providers/ModelProviderSheet.h"

#include <QAbstractButton>
#include <QClipboard>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace {

// A runtime may serve a thousand running tasks: the card lists a few and counts the rest.
constexpr qsizetype kShownServing = 5;

using RuntimeCardActions::Action;

QHBoxLayout* rowLayout(QWidget* host, int spacing)
{
    auto* row = new QHBoxLayout(host);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(spacing);
    return row;
}

QString title(Action action, bool bound)
{
    switch (action) {
    case Action::login:
        return QStringLiteral("去登录");
    case Action::install:
        return QStringLiteral("安装");
    case Action::uninstall:
        return QStringLiteral("卸载");
    case Action::reinstall:
        return QStringLiteral("重新安装");
    case Action::model:
        return bound ? QStringLiteral("更换模型配置") : QStringLiteral("配置模型");
    case Action::disable:
        return QStringLiteral("停用");
    case Action::enable:
        return QStringLiteral("启用");
    case Action::stop:
        return QStringLiteral("停止");
    case Action::start:
        break;
    }
    return QStringLiteral("启动");
}

} // namespace

RuntimeCard::RuntimeCard(RuntimeSectionModel* model, const QString& kind, QWidget* parent)
    : Card(std::nullopt, false, parent)
    , m_model(model)
    , m_kind(kind)
{
    setObjectName(QStringLiteral("runtime.row.") + kind);
    QVBoxLayout* col = contentLayout();
    col->setSpacing(8);

    auto* header = new QWidget(this);
    auto* headerRow = rowLayout(header, 8);
    // The tool's name and version for it, however long, cut with "…" rather than widen the card.
    m_title = new ElidedLabel(1, QString(), header);
    m_title->setFont(DSFont::bold(14.5));
    DSText::setColour(m_title, DS::ink());
    m_disabledChip = new Chip(QStringLiteral("已停用"), DS::muted(0.5), QStringLiteral("已停用"), std::nullopt, header);
    m_badge = new StatusBadge(RuntimeUsability::unknown, std::nullopt, header);
    m_version = new ElidedLabel(1, QString(), header);
    m_version->setFont(DSFont::monoMedium(10));
    DSText::setColour(m_version, DS::muted(0.4));
    headerRow->addWidget(m_title, 0, Qt::AlignVCenter);
    headerRow->addWidget(m_disabledChip, 0, Qt::AlignVCenter);
    headerRow->addWidget(m_badge, 0, Qt::AlignVCenter);
    headerRow->addStretch(1);
    headerRow->addSpacing(6);
    headerRow->addWidget(m_version, 0, Qt::AlignVCenter);
    col->addWidget(header);

    m_sentence = DSText::label(QString(), DSFont::medium(11.5), DS::muted(0.6), this);
    m_sentence->setWordWrap(true);
    col->addWidget(m_sentence);

    m_modelLine = new QWidget(this);
    m_modelLine->setObjectName(QStringLiteral("runtime.") + kind + QStringLiteral(".modelline"));
    rowLayout(m_modelLine, 6);
    col->addWidget(m_modelLine);

    m_serving = new QWidget(this);
    m_serving->setObjectName(QStringLiteral("runtime.") + kind + QStringLiteral(".serving"));
    auto* servingCol = new QVBoxLayout(m_serving);
    servingCol->setContentsMargins(0, 0, 0, 0);
    servingCol->setSpacing(3);
    col->addWidget(m_serving);

    m_actions = new QWidget(this);
    m_actionsRow = new FlowLayout(m_actions, 8);
    // 启动 is redrawn as 停止 in its place, and a card that grows moves its
    // buttons: a press there that cannot have been aimed at what it does now is held.
    m_aim = new AimGuard(this);
    col->addWidget(m_actions);
    // The window's notice is at the top of the page, far from a card low on it.
    m_outcome = new OutcomeLine(11, this);
    m_outcome->setObjectName(QStringLiteral("runtime.") + kind + QStringLiteral(".outcome"));
    col->addWidget(m_outcome);

    auto* diagContent = new QWidget(this);
    diagContent->setFont(DSFont::monoMedium(10.5));
    auto* diagCol = new QVBoxLayout(diagContent);
    diagCol->setContentsMargins(0, 4, 0, 0);
    diagCol->setSpacing(5);
    m_diagRows = new QVBoxLayout;
    m_diagRows->setSpacing(5);
    diagCol->addLayout(m_diagRows);
    auto* copyRow = new QHBoxLayout;
    copyRow->addStretch(1);
    copyRow->addWidget(new SecondaryButton(
        QStringLiteral("复制诊断信息"), QStringLiteral("runtime.") + kind + QStringLiteral(".copyDiag"),
        [this] { copyDiagnostics(); }, diagContent));
    diagCol->addLayout(copyRow);
    m_diagnostics = new Disclosure(QStringLiteral("诊断"), diagContent, this);
    m_diagnostics->setHeaderFont(DSFont::semiBold(11));
    m_diagnostics->setTint(DS::muted(0.5));
    col->addWidget(m_diagnostics);
}

void RuntimeCard::setState(const RuntimeCardState& state)
{
    if (m_drawn && state == m_state)
        return;
    const RuntimeCardState old = m_state;
    const bool first = !m_drawn;
    if (!first)
        m_aim->aboutToChange();
    m_state = state;
    m_drawn = true;

    showHeader();
    if (first || old.setup != state.setup || old.boundProfile != state.boundProfile
        || old.boundProfileHasKey != state.boundProfileHasKey)
        showModelLine();
    if (first || old.serving != state.serving)
        showServing();
    if (first || old.actions() != state.actions() || old.boundProfile.has_value() != state.boundProfile.has_value()
        || old.row != state.row || old.setup != state.setup)
        showActions();
    // Each button turns busy on its own: a disabled container would take the
    // keyboard away from the card instead of parking it there.
    for (QAbstractButton* button : m_actions->findChildren<QAbstractButton*>(Qt::FindDirectChildrenOnly))
        button->setEnabled(!state.busy);
    if (first || old.row.diagnosticRows() != state.row.diagnosticRows())
        showDiagnostics();
    if (first || old.outcome != state.outcome) {
        if (state.outcome)
            m_outcome->setOutcome(
                state.outcome->isError ? OutcomeLine::Kind::Failed : OutcomeLine::Kind::Ok, state.outcome->text);
        else
            m_outcome->setOutcome(OutcomeLine::Kind::Idle, QString());
    }
}

void RuntimeCard::showHeader()
{
    const RuntimeRow& row = m_state.row;
    m_title->setText(row.display);
    setAccessibleName(row.display + QLatin1Char(' ') + RuntimeUsabilities::rawValue(row.usability));
    // A switched-off runtime says so first, even while a worker of it still runs.
    const bool disabled = !m_state.enabled && row.installed;
    m_disabledChip->setVisible(disabled);
    m_badge->setVisible(!disabled);
    if (m_state.running)
        m_badge->setLook(StatusBadgeLook { QStringLiteral("正在执行"), DS::cyan(), QStringLiteral("Running"), true });
    else
        m_badge->setLook(StatusBadgeLook::forRuntime(row.usability));
    m_version->setText(row.version);
    m_sentence->setText(RuntimeCardText::sentence(row.usability));
}

void RuntimeCard::showModelLine()
{
    QLayout* row = m_modelLine->layout();
    clearLayout(row);
    m_modelLine->setVisible(m_state.hasModelLine());
    if (!m_state.hasModelLine())
        return;
    auto* line = static_cast<QHBoxLayout*>(row);
    line->addWidget(DSText::label(QStringLiteral("模型配置"), DSFont::semiBold(11), DS::muted(0.45), m_modelLine));
    if (const std::optional<ProviderProfile>& p = m_state.boundProfile) {
        line->addWidget(DSText::label(p->name, DSFont::medium(11.5), DS::ink(), m_modelLine));
        line->addWidget(new Chip(p->provider, DS::muted(0.5), p->provider, std::nullopt, m_modelLine));
        if (p->defaultModel && !p->defaultModel->isEmpty())
            line->addWidget(new Chip(*p->defaultModel, DS::muted(0.5), *p->defaultModel, std::nullopt, m_modelLine));
        if (const std::optional<QString> warning = m_state.modelWarning())
            line->addWidget(new Chip(*warning, DS::muted(0.5), *warning, std::nullopt, m_modelLine));
    } else {
        line->addWidget(DSText::label(
            QStringLiteral("没绑账号 —— 它用自己登录的那个"), DSFont::medium(11.5), DS::muted(0.5), m_modelLine));
    }
    line->addStretch(1);
}

void RuntimeCard::showServing()
{
    QLayout* col = m_serving->layout();
    clearLayout(col);
    m_serving->setVisible(!m_state.serving.isEmpty());
    for (const RuntimeServing& item : m_state.serving.first(qMin(m_state.serving.size(), kShownServing))) {
        auto* entry = new QWidget(m_serving);
        auto* row = rowLayout(entry, 6);
        row->addWidget(DSText::label(item.running ? QStringLiteral("正在服务") : QStringLiteral("最近服务"),
            DSFont::semiBold(11), item.running ? DS::mint() : DS::muted(0.45), entry));
        row->addWidget(DSText::label(
            item.employeeName.value_or(QStringLiteral("这台机器领的活")), DSFont::medium(11.5), DS::ink(), entry));
        auto* task = new ElidedLabel(1, item.taskText, entry);
        task->setFont(DSFont::medium(11));
        DSText::setColour(task, DS::muted(0.5));
        row->addWidget(task, 1);
        col->addWidget(entry);
    }
    if (m_state.serving.size() > kShownServing) {
        auto* more = DSText::label(QStringLiteral("还有 %1 条没有列出").arg(m_state.serving.size() - kShownServing),
            DSFont::medium(11), DS::muted(0.45), m_serving);
        more->setObjectName(QStringLiteral("runtime.") + m_kind + QStringLiteral(".serving.more"));
        col->addWidget(more);
    }
}

void RuntimeCard::showActions()
{
    clearLayout(m_actionsRow);
    const QList<Action> actions = m_state.actions();
    m_actions->setVisible(!actions.isEmpty());
    const QString prefix = QStringLiteral("runtime.") + m_kind + QLatin1Char('.');
    RuntimeSectionModel* model = m_model;
    const QString kind = m_kind;
    for (Action action : actions) {
        const QString id = prefix + RuntimeCardActions::name(action);
        const QString text = title(action, m_state.boundProfile.has_value());
        std::function<void()> run;
        if (action == Action::uninstall)
            run = [this] { askUninstall(); };
        else if (action == Action::model)
            run = [this] { openProviderSheet(); };
        else
            run = [model, kind, action] { model->perform(kind, action); };
        FaceButton* button = nullptr;
        if (action == Action::uninstall)
            button = new DangerButton(text, id, run, m_actions);
        else if (action == Action::enable || action == Action::start)
            button = new PrimaryButton(text, false, false, id, run, m_actions);
        else
            button = new SecondaryButton(text, id, run, m_actions);
        const QString help = RuntimeCardText::help(action, m_state.row, m_state.setup);
        if (!help.isEmpty())
            button->setToolTip(help);
        m_aim->watch(button, id);
        m_actionsRow->addWidget(button);
    }
}

void RuntimeCard::showDiagnostics()
{
    clearLayout(m_diagRows);
    for (const auto& [key, value] : m_state.row.diagnosticRows()) {
        auto* row = new DiagRow(key, value, m_diagnostics->content());
        row->valueLabel()->setTextInteractionFlags(Qt::TextSelectableByMouse);
        m_diagRows->addWidget(row);
    }
}

ModelProviderSheet* RuntimeCard::providerSheet() const
{
    return m_sheet;
}

void RuntimeCard::openProviderSheet()
{
    if (!m_state.setup)
        return;
    if (m_sheet) {
        m_sheet->raise();
        return;
    }
    // The sheet is the window's child: it goes before the model, card or no card.
    RuntimeSectionModel* model = m_model;
    const QString kind = m_kind;
    m_sheet = new ModelProviderSheet(
        m_state.row.kind, m_state.row.display, *m_state.setup, m_state.allProfiles,
        m_state.boundProfile ? std::optional<QUuid>(m_state.boundProfile->id) : std::nullopt,
        [model, kind](
            const std::optional<QString>& message, bool problem) { model->credentialsChanged(kind, message, problem); },
        window());
    connect(m_sheet, &QDialog::finished, m_sheet, &QObject::deleteLater);
    m_sheet->open();
}

QCoro::Task<> RuntimeCard::askUninstall()
{
    QPointer<RuntimeCard> self(this);
    Prompts::Alert alert;
    alert.message = QStringLiteral("卸载 ") + m_state.row.display + QStringLiteral("？");
    alert.informative = RuntimeCardText::uninstallMessage(m_state.setup);
    alert.buttons = { QStringLiteral("把命令送到终端"), QStringLiteral("取消") };
    alert.style = Prompts::Style::Warning;
    // Return must not start an uninstall; even once sent, the terminal waits for Enter.
    alert.defaultButton = 1;
    auto ask = Prompts::confirm(this, alert);
    const bool confirmed = co_await std::move(ask);
    if (!self || !confirmed)
        co_return;
    self->m_model->confirmUninstall(self->m_kind);
}

void RuntimeCard::copyDiagnostics()
{
    QGuiApplication::clipboard()->setText(m_model->diagnosticsText(m_kind));
    m_model->notifyCopied(m_kind);
}

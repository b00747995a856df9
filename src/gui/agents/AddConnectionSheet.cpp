#include "gui/agents/AddConnectionSheet.h"

#include "core/agents/AdvancedAccess.h"
#include "core/design/DS.h"
#include "core/design/DSFont.h"
#include "gui/design/DSText.h"
#include "gui/design/PrimaryButton.h"
#include "gui/design/SecondaryButton.h"
#include "gui/design/Style.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace {

constexpr int kWidth = 460;

QLineEdit* field(const QString& id, const QString& placeholder, const QFont& font, QWidget* parent)
{
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(id);
    edit->setPlaceholderText(placeholder);
    edit->setFont(font);
    edit->setStyleSheet(Style::field());
    return edit;
}

} // namespace

AddConnectionSheet::AddConnectionSheet(AdvancedAccess* access, QWidget* parent)
    : Sheet(QStringLiteral("advanced.add.sheet"), QStringLiteral("添加自定义 Agent"), kWidth, parent)
    , m_access(access)
{
    QVBoxLayout* col = column();
    col->addWidget(DSText::label(QStringLiteral("添加自定义 Agent"), DSFont::bold(16), DS::ink(), this));
    QLabel* intro
        = DSText::label(QStringLiteral("填要启动的程序：程序名或完整路径，不带参数 —— 启动时只运行这个程序本身，"
                                       "在当前工作区的目录里跑。路径里有空格就用双引号括起来；"
                                       "它不经过 shell，不展开变量。"),
            DSFont::medium(11.5), DS::muted(0.55), this);
    intro->setWordWrap(true);
    // The fields scroll on a screen too short for them; the buttons stay.
    QVBoxLayout* body = addScrollingColumn();
    body->addWidget(intro);

    body->addWidget(DSText::label(QStringLiteral("名字"), DSFont::medium(11.5), DS::muted(0.6), this));
    m_name
        = field(QStringLiteral("advanced.add.name"), QStringLiteral("比如：我的评审 Agent"), DSFont::medium(12), this);
    body->addWidget(m_name);
    body->addWidget(DSText::label(QStringLiteral("启动的程序"), DSFont::medium(11.5), DS::muted(0.6), this));
    m_command = field(QStringLiteral("advanced.add.command"),
        QStringLiteral("比如：my-agent 或 /opt/agent/bin/my-agent"), DSFont::monoMedium(11.5), this);
    body->addWidget(m_command);

    m_problem = DSText::label(QString(), DSFont::medium(11), DS::failureRed(), this);
    m_problem->setObjectName(QStringLiteral("advanced.add.problem"));
    m_problem->setWordWrap(true);
    m_problem->hide();
    body->addWidget(m_problem);

    auto* footer = new QHBoxLayout;
    footer->addStretch(1);
    footer->addWidget(new SecondaryButton(
        QStringLiteral("取消"), QStringLiteral("advanced.add.cancel"), [this] { reject(); }, this));
    auto* add = new PrimaryButton(
        QStringLiteral("添加"), false, false, QStringLiteral("advanced.add.save"), [this] { save(); }, this);
    footer->addWidget(add);
    col->addLayout(footer);
    setDefaultButton(add);
}

QCoro::Task<> AddConnectionSheet::save()
{
    // A second press while the first is being stored would add it twice.
    if (!m_access || m_saving)
        co_return;
    m_saving = true;
    QPointer<AddConnectionSheet> self(this);
    auto add = m_access->add(m_name->text(), m_command->text());
    const QString problem = co_await std::move(add);
    if (!self)
        co_return;
    self->m_saving = false;
    if (problem.isEmpty()) {
        self->accept();
        co_return;
    }
    self->m_problem->setText(problem);
    self->m_problem->show();
    self->refit();
}

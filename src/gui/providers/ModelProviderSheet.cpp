#include "gui/providers/ModelProviderSheet.h"

#include "core/design/DS.h"
#include "core/design/DSFont.h"
#include "core/platform/CredentialRedaction.h"
#include "core/platform/UuidText.h"
#include "gui/design/AnywhereLabel.h"
#include "gui/design/Chip.h"
#include "gui/design/ClearLayout.h"
#include "gui/design/DSText.h"
#include "gui/design/DangerButton.h"
#include "gui/design/ElidedLine.h"
#include "gui/design/LazyRows.h"
#include "gui/design/PrimaryButton.h"
#include "gui/design/SecondaryButton.h"
#include "gui/design/Style.h"
#include "gui/platform/Prompts.h"

#include <QComboBox>
#include <QEvent>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QTimer>
#include <QVBoxLayout>

#include <utility>

namespace {

constexpr int kWidth = 540;
// How long closing waits for a save under way (the key store may wait on an
// unlock prompt or a stalled daemon without end).
constexpr int kSaveWaitMs = 2000;

// A box layout takes the room a row lacks from all its items alike, so a long
// model name would cut the account's name too. The name keeps the width it
// needs for as long as the model's chip can give way, down to its first
// character and "…"; only then is the name cut as well.
class ChipGivesWay : public QObject {
public:
    ChipGivesWay(QWidget* row, ElidedLine* name, QHBoxLayout* top)
        : QObject(row)
        , m_row(row)
        , m_name(name)
        , m_top(top)
    {
        row->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        // Before the row lays its items out: when it is resized and when its chips change.
        if (event->type() == QEvent::Resize || event->type() == QEvent::LayoutRequest)
            fit();
        return false;
    }

private:
    void fit()
    {
        const Chip* model = nullptr;
        for (const Chip* chip : m_row->findChildren<Chip*>(QStringLiteral("model"), Qt::FindDirectChildrenOnly))
            model = chip->isHidden() ? model : chip;
        int keeps = 0;
        if (model) {
            const int named = m_name->sizeHint().width();
            const int others = m_top->sizeHint().width() - named - model->sizeHint().width();
            keeps = qBound(0, m_row->width() - others - model->minimumSizeHint().width(), named);
        }
        if (m_name->minimumWidth() != keeps)
            m_name->setMinimumWidth(keeps);
    }

    QWidget* m_row;
    ElidedLine* m_name;
    QHBoxLayout* m_top;
};

QLineEdit* field(const QString& id, const QString& placeholder, QWidget* parent)
{
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(id);
    edit->setPlaceholderText(placeholder);
    edit->setFont(DSFont::medium(12));
    return edit;
}

QColor feedbackColour(ProviderSheetModel::Feedback::Kind kind)
{
    switch (kind) {
    case ProviderSheetModel::Feedback::Kind::Ok:
        return DS::mint();
    case ProviderSheetModel::Feedback::Kind::Failed:
        return DS::failureRed();
    default:
        return DS::muted(0.55);
    }
}

void showFeedback(QLabel* label, const ProviderSheetModel::Feedback& feedback)
{
    label->setText(feedback.text);
    DSText::setColour(label, feedbackColour(feedback.kind));
    label->setVisible(!feedback.text.isEmpty());
}

QLabel* wrapping(const QFont& font, const QColor& colour, QWidget* parent)
{
    auto* label = new AnywhereLabel(parent);
    label->setFont(font);
    DSText::setColour(label, colour);
    return label;
}

QString lastCheck(const ProviderProfile& p)
{
    if (!p.lastVerifiedAt)
        return QStringLiteral("还没验证过");
    const QString when = p.lastVerifiedAt->toLocalTime().toString(QStringLiteral("MM-dd HH:mm"));
    const QString verdict = p.lastVerifyOK.value_or(false) ? QStringLiteral("通过") : QStringLiteral("没过");
    const QString detail = p.lastVerifyDetail.value_or(QString());
    return QStringLiteral("上次验证 ") + when + QStringLiteral("：") + verdict
        + (detail.isEmpty() ? QString() : QStringLiteral(" · ") + detail);
}

} // namespace

ModelProviderSheet::ModelProviderSheet(const QString& runtimeKind, const QString& runtimeDisplay,
    const RuntimeSetupInfo& setup, const QList<ProviderProfile>& allProfiles,
    const std::optional<QUuid>& boundProfileID, Done done, QWidget* parent)
    : Sheet(QStringLiteral("providers.sheet"), runtimeDisplay + QStringLiteral(" 的模型配置"), kWidth, parent)
    , m_model(new ProviderSheetModel(runtimeKind, runtimeDisplay, setup, allProfiles, boundProfileID, this))
    , m_done(std::move(done))
{
    setStyleSheet(Style::field());
    QVBoxLayout* col = column();

    col->addWidget(DSText::label(runtimeDisplay + QStringLiteral(" 的模型配置"), DSFont::bold(16), DS::ink(), this));
    QLabel* intro = DSText::label(QStringLiteral("绑一个模型服务账号，它启动时就用这个账号的 Key；"
                                                 "不绑，就用它自己登录的那个。Key 只存在系统的密码库里。"),
        DSFont::medium(11.5), DS::muted(0.55), this);
    intro->setWordWrap(true);
    col->addWidget(intro);

    // The accounts and the new one's form scroll on a screen too short for them; "完成" stays.
    QVBoxLayout* body = addScrollingColumn();

    // Its own login, as the first choice.
    m_ownLogin = new QWidget(this);
    auto* own = new QHBoxLayout(m_ownLogin);
    own->setContentsMargins(0, 0, 0, 0);
    own->setSpacing(8);
    own->addWidget(DSText::label(QStringLiteral("用它自己登录的那个"), DSFont::semiBold(12.5), DS::ink(), m_ownLogin));
    own->addStretch(1);
    body->addWidget(m_ownLogin);

    // Made as they come into view: a few thousand accounts open as fast as a few.
    m_rows = new LazyRows(
        scrollingPart(), 10, [this](const QString& key) { return profileRow(m_profiles.value(key).id); },
        [this](QWidget* row, const QString& key) { updateRow(row, m_profiles.value(key)); }, this);
    body->addWidget(m_rows);

    // A new account.
    body->addWidget(DSText::label(QStringLiteral("新建一个账号"), DSFont::semiBold(12.5), DS::ink(), this));
    auto* form = new QFormLayout;
    form->setHorizontalSpacing(10);
    form->setVerticalSpacing(7);
    form->setLabelAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_provider = new QComboBox(this);
    m_provider->setObjectName(QStringLiteral("providers.new.provider"));
    m_provider->setFont(DSFont::medium(12));
    for (const ProviderSlot& slot : m_model->providerSlots())
        m_provider->addItem(slot.display.isEmpty() ? slot.provider : slot.display, slot.provider);
    m_name = field(QStringLiteral("providers.new.name"), QStringLiteral("比如：公司的 Key"), this);
    m_baseURL = field(QStringLiteral("providers.new.baseurl"), QStringLiteral("可不填：走服务自己的地址"), this);
    m_defaultModel = field(QStringLiteral("providers.new.model"), QStringLiteral("可不填"), this);
    m_key = field(QStringLiteral("providers.new.key"), QString(), this);
    m_key->setFont(DSFont::system(12));
    m_key->setEchoMode(QLineEdit::Password);
    m_key->setAttribute(Qt::WA_InputMethodEnabled, false);
    auto label
        = [this](const QString& text) { return DSText::label(text, DSFont::medium(11.5), DS::muted(0.6), this); };
    form->addRow(label(QStringLiteral("服务")), m_provider);
    form->addRow(label(QStringLiteral("名字")), m_name);
    form->addRow(label(QStringLiteral("Base URL")), m_baseURL);
    form->addRow(label(QStringLiteral("默认模型")), m_defaultModel);
    form->addRow(label(QStringLiteral("Key")), m_key);
    body->addLayout(form);

    m_formFeedback = wrapping(DSFont::medium(11), DS::muted(0.55), this);
    m_formFeedback->setObjectName(QStringLiteral("providers.new.feedback"));
    body->addWidget(m_formFeedback);
    auto* saveRow = new QHBoxLayout;
    saveRow->addStretch(1);
    m_save = new PrimaryButton(
        QStringLiteral("存下"), false, false, QStringLiteral("providers.new.save"), [this] { save(); }, this);
    saveRow->addWidget(m_save);
    body->addLayout(saveRow);
    // Enter in the new account's fields stores it.
    setDefaultButton(m_save);

    auto* footer = new QHBoxLayout;
    footer->addStretch(1);
    footer->addWidget(new SecondaryButton(
        QStringLiteral("完成"), QStringLiteral("providers.close"), [this] { finish(true); }, this));
    col->addLayout(footer);

    // However it closes, the caller hears once what changed; of a save still
    // under way, once it has ended.
    connect(this, &QDialog::finished, this, [this] {
        if (Done done = std::exchange(m_done, nullptr))
            handOver(std::move(done));
    });
    // A refused save's reason goes once the field it named has been put right.
    const auto edited = [this] { m_model->draftEdited(draft()); };
    connect(m_provider, &QComboBox::currentIndexChanged, this, edited);
    for (QLineEdit* edit : { m_name, m_baseURL, m_defaultModel, m_key })
        connect(edit, &QLineEdit::textEdited, this, edited);
    connect(m_model, &ProviderSheetModel::changed, this, &ModelProviderSheet::refresh);
    refresh();
}

void ModelProviderSheet::refresh()
{
    // The own-login line: either the choice in use or a button to go back to
    // it, rebuilt only when that changes (a rebuilt button would lose its
    // focus, and is hidden for a turn).
    QLayout* own = m_ownLogin->layout();
    const QString ownName
        = m_model->boundProfileID() ? QStringLiteral("providers.unbind") : QStringLiteral("providers.unbind.current");
    QWidget* shown = own->count() > 2 ? own->itemAt(2)->widget() : nullptr;
    if (!shown || shown->objectName() != ownName) {
        while (own->count() > 2) {
            QLayoutItem* item = own->takeAt(2);
            if (QWidget* w = item->widget())
                w->deleteLater();
            delete item;
        }
        if (m_model->boundProfileID())
            own->addWidget(new SecondaryButton(
                QStringLiteral("改用这个"), ownName, [this] { m_model->bind(std::nullopt); }, m_ownLogin));
        else
            own->addWidget(new Chip(QStringLiteral("正在用"), DS::mint(), std::nullopt, ownName, m_ownLogin));
    }

    const QList<ProviderProfile> profiles = m_model->profiles();
    QStringList keys;
    keys.reserve(profiles.size());
    m_profiles.clear();
    for (const ProviderProfile& p : profiles) {
        const QString key = UuidText::plain(p.id);
        keys.append(key);
        m_profiles.insert(key, p);
    }
    m_rows->setKeys(keys);
    // No accounts, no gap for them between its own login and the form.
    m_rows->setVisible(!keys.isEmpty());

    showFeedback(m_formFeedback, m_model->formFeedback());
    m_save->setBusy(m_model->formFeedback().kind == ProviderSheetModel::Feedback::Kind::Working);
    refit();
}

QWidget* ModelProviderSheet::profileRow(const QUuid& uuid)
{
    const QString id = UuidText::plain(uuid);
    auto* row = new QWidget(m_rows);
    row->setObjectName(QStringLiteral("providers.row.") + id);
    auto* col = new QVBoxLayout(row);
    col->setContentsMargins(0, 0, 0, 0);
    col->setSpacing(3);
    auto* top = new QHBoxLayout;
    top->setSpacing(6);
    // A long name is cut to the room the buttons leave; the whole of it is in its tooltip.
    auto* name = new ElidedLine(Qt::ElideRight, QString(), row);
    name->setObjectName(QStringLiteral("name"));
    name->setFont(DSFont::semiBold(12.5));
    DSText::setColour(name, DS::ink());
    top->addWidget(name);
    new ChipGivesWay(row, name, top);
    auto* chips = new QHBoxLayout;
    chips->setSpacing(6);
    top->addLayout(chips);
    chips->setObjectName(QStringLiteral("chips"));
    top->addStretch(1);
    top->addWidget(new SecondaryButton(
        QStringLiteral("验证"), QStringLiteral("providers.") + id + QStringLiteral(".verify"),
        [this, uuid] { m_model->verify(uuid); }, row));
    top->addWidget(new DangerButton(
        QStringLiteral("删除"), QStringLiteral("providers.") + id + QStringLiteral(".delete"),
        [this, uuid] { askRemove(uuid); }, row));
    col->addLayout(top);
    // A provider's reply may hold no place to break a line: it breaks anywhere.
    QLabel* detail = wrapping(DSFont::medium(11), DS::muted(0.5), row);
    detail->setObjectName(QStringLiteral("providers.") + id + QStringLiteral(".detail"));
    col->addWidget(detail);
    QLabel* feedback = wrapping(DSFont::medium(11), DS::muted(0.55), row);
    feedback->setObjectName(QStringLiteral("providers.") + id + QStringLiteral(".feedback"));
    col->addWidget(feedback);
    return row;
}

void ModelProviderSheet::updateRow(QWidget* row, const ProviderProfile& p)
{
    const QString id = UuidText::plain(p.id);
    auto* name = row->findChild<ElidedLine*>(QStringLiteral("name"));
    name->setText(p.name);
    name->setToolTip(p.name);

    auto* chips = row->findChild<QHBoxLayout*>(QStringLiteral("chips"));
    clearLayout(chips);
    chips->addWidget(new Chip(p.provider, DS::muted(0.5), p.provider, std::nullopt, row));
    if (p.defaultModel && !p.defaultModel->isEmpty()) {
        // A long model name gives way to the account's name and the buttons.
        auto* model = new Chip(*p.defaultModel, DS::muted(0.5), *p.defaultModel, std::nullopt, row);
        model->setObjectName(QStringLiteral("model"));
        model->setShrinkable();
        chips->addWidget(model);
    }
    // A record whose key never reached the store says so, as the runtime
    // card does, and is not offered as an account to use.
    const bool keyless = m_model->hasKey(p.id) == false;
    if (m_model->boundProfileID() == p.id) {
        chips->addWidget(new Chip(QStringLiteral("正在用"), DS::mint(), std::nullopt,
            QStringLiteral("providers.") + id + QStringLiteral(".current"), row));
    } else if (!keyless) {
        const QUuid uuid = p.id;
        chips->addWidget(new SecondaryButton(
            QStringLiteral("用这个"), QStringLiteral("providers.") + id + QStringLiteral(".bind"),
            [this, uuid] { m_model->bind(uuid); }, row));
    }
    if (keyless)
        chips->addWidget(new Chip(QStringLiteral("缺 Key"), DS::muted(0.5), QStringLiteral("缺 Key"),
            QStringLiteral("providers.") + id + QStringLiteral(".nokey"), row));

    QStringList where;
    if (p.baseURL)
        where << CredentialRedaction::shownAddress(*p.baseURL);
    where << lastCheck(p);
    row->findChild<QLabel*>(QStringLiteral("providers.") + id + QStringLiteral(".detail"))
        ->setText(where.join(QStringLiteral(" · ")));
    showFeedback(row->findChild<QLabel*>(QStringLiteral("providers.") + id + QStringLiteral(".feedback")),
        m_model->feedback(p.id));
}

ProviderSheetModel::Draft ModelProviderSheet::draft() const
{
    ProviderSheetModel::Draft draft;
    draft.provider = m_provider->currentData().toString();
    draft.name = m_name->text();
    draft.baseURL = m_baseURL->text();
    draft.defaultModel = m_defaultModel->text();
    draft.key = m_key->text();
    return draft;
}

bool ModelProviderSheet::hasDraft() const
{
    for (const QLineEdit* edit : { m_name, m_baseURL, m_defaultModel, m_key }) {
        if (!edit->text().isEmpty())
            return true;
    }
    return false;
}

void ModelProviderSheet::reject()
{
    finish(false);
}

QCoro::Task<> ModelProviderSheet::finish(bool accepted)
{
    if (m_asking)
        co_return;
    // The form is on its way into the store: whether anything typed is lost is
    // known only once the save has ended.
    // Only for a while: then the sheet closes and the save's word comes later.
    if (m_model->formFeedback().kind == ProviderSheetModel::Feedback::Kind::Working) {
        if (!m_finishAfterSave) {
            QTimer::singleShot(kSaveWaitMs, this, [this] {
                if (const std::optional<bool> accepted = std::exchange(m_finishAfterSave, std::nullopt))
                    accepted ? accept() : Sheet::reject();
            });
        }
        m_finishAfterSave = accepted;
        co_return;
    }
    if (hasDraft()) {
        QPointer<ModelProviderSheet> self(this);
        m_asking = true;
        Prompts::Alert alert;
        alert.message = QStringLiteral("丢掉没存下的账号？");
        alert.informative = QStringLiteral("「新建一个账号」里填的还没存下，Key 也没进系统密码库。丢掉就得重填。");
        alert.buttons = { QStringLiteral("丢掉"), QStringLiteral("继续填") };
        alert.style = Prompts::Style::Warning;
        // Return keeps what is typed.
        alert.defaultButton = 1;
        auto ask = Prompts::confirm(this, alert);
        const bool drop = co_await std::move(ask);
        if (!self)
            co_return;
        self->m_asking = false;
        if (!drop)
            co_return;
    }
    if (accepted)
        accept();
    else
        Sheet::reject();
}

void ModelProviderSheet::handOver(Done done)
{
    using Kind = ProviderSheetModel::Feedback::Kind;
    ProviderSheetModel* model = m_model;
    if (model->formFeedback().kind != Kind::Working) {
        done(model->doneMessage(), model->doneIsProblem());
        return;
    }
    // The save goes on without the sheet, the model kept by the window; a
    // save that failed is said too, since nobody sees the form any more.
    model->setParent(parentWidget());
    connect(model, &ProviderSheetModel::changed, model, [model, done] {
        const ProviderSheetModel::Feedback form = model->formFeedback();
        if (form.kind == Kind::Working)
            return;
        disconnect(model, &ProviderSheetModel::changed, model, nullptr);
        if (form.kind == Kind::Failed)
            done(form.text, true);
        else
            done(model->doneMessage(), model->doneIsProblem());
        model->deleteLater();
    });
}

QCoro::Task<> ModelProviderSheet::save()
{
    QPointer<ModelProviderSheet> self(this);
    auto create = m_model->create(draft());
    const bool saved = co_await std::move(create);
    if (!self)
        co_return;
    if (saved) {
        for (QLineEdit* edit : { self->m_name, self->m_baseURL, self->m_defaultModel, self->m_key })
            edit->clear();
    }
    if (const std::optional<bool> accepted = std::exchange(self->m_finishAfterSave, std::nullopt))
        self->finish(*accepted);
}

QCoro::Task<> ModelProviderSheet::askRemove(QUuid id)
{
    QString name;
    for (const ProviderProfile& p : m_model->profiles()) {
        if (p.id == id)
            name = p.name;
    }
    QPointer<ModelProviderSheet> self(this);
    Prompts::Alert alert;
    alert.message = QStringLiteral("删除「") + name + QStringLiteral("」？");
    alert.informative = QStringLiteral("账号记录和系统密码库里的 Key 一起删掉；绑着它的 Runtime 改用自己登录的那个。");
    alert.buttons = { QStringLiteral("删除"), QStringLiteral("取消") };
    alert.style = Prompts::Style::Warning;
    auto ask = Prompts::confirm(this, alert);
    const bool confirmed = co_await std::move(ask);
    if (!self || !confirmed)
        co_return;
    auto remove = self->m_model->remove(id);
    co_await std::move(remove);
}

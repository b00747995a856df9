#include "gui/workforce/SkillDeliverySection.h"

#include "core/design/DS.h"
#include "core/design/DSFont.h"
#include "core/workforce/SkillCopy.h"
#include "gui/design/AnywhereLabel.h"
#include "gui/design/Chip.h"
#include "gui/design/DSText.h"
#include "gui/design/Icon.h"
#include "gui/design/SectionHeader.h"
#include "gui/workforce/SymbolLabel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace {

QWidget* column(int spacing, QWidget* parent, QVBoxLayout** layout)
{
    auto* w = new QWidget(parent);
    *layout = new QVBoxLayout(w);
    (*layout)->setContentsMargins(0, 0, 0, 0);
    (*layout)->setSpacing(spacing);
    return w;
}

QHBoxLayout* row(QVBoxLayout* into, int spacing, const QString& identifier = QString())
{
    auto* w = new QWidget;
    w->setObjectName(identifier);
    auto* h = new QHBoxLayout(w);
    h->setContentsMargins(0, 0, 0, 0);
    h->setSpacing(spacing);
    into->addWidget(w);
    return h;
}

QLabel* title(const QString& text, const QColor& colour)
{
    return DSText::label(text, DSFont::semiBold(11.5), colour);
}

} // namespace

SkillDeliverySection::SkillDeliverySection(QWidget* parent)
    : QWidget(parent)
{
    m_stack = new QVBoxLayout(this);
    m_stack->setContentsMargins(0, 0, 0, 0);
    m_stack->setSpacing(10);
    m_stack->addWidget(new SectionHeader(
        QStringLiteral("技能与交付"), QStringLiteral("他手上是什么技能、干完什么才算交付"), nullptr, this));
    // The tool's failure, a path or an address in it wrapping inside itself.
    m_error = new AnywhereLabel(this);
    m_error->setFont(DSFont::medium(11.5));
    DSText::setColour(m_error, DS::amber());
    m_error->hide();
    m_stack->addWidget(m_error);
    m_loading = DSText::label(QStringLiteral("正在读这位同事的技能…"), DSFont::medium(11.5), DS::muted(0.5), this);
    m_loading->setObjectName(QStringLiteral("skill.loading"));
    m_stack->addWidget(m_loading);
}

void SkillDeliverySection::setContent(
    const std::optional<EmployeeSkillView>& view, const std::optional<QString>& loadError, const QString& employeeRole)
{
    if (loadError) {
        const QString text = SkillCopy::errorText(*loadError);
        if (m_error->text() != text) {
            m_error->setText(text);
            m_error->setObjectName(SkillCopy::errorIdentifier(*loadError));
        }
    }
    m_error->setVisible(loadError.has_value());
    m_loading->setVisible(!loadError && !view);

    const std::optional<EmployeeSkillView> shown = loadError ? std::nullopt : view;
    if (shown == m_view && employeeRole == m_role)
        return;
    m_view = shown;
    m_role = employeeRole;
    // The contract changes only when a load finishes: drawn afresh then.
    if (m_contract) {
        m_contract->hide();
        m_contract->deleteLater();
        m_contract = nullptr;
    }
    if (shown) {
        m_contract = buildContract(*shown, employeeRole);
        m_stack->addWidget(m_contract);
    }
}

QWidget* SkillDeliverySection::buildContract(const EmployeeSkillView& view, const QString& role)
{
    QVBoxLayout* blocks = nullptr;
    QWidget* contract = column(10, this, &blocks);

    // The skill, its version and whether it can take work.
    QHBoxLayout* head = row(blocks, 8);
    auto* name = DSText::label(view.skillName, DSFont::semiBold(13), DS::ink());
    head->addWidget(name, 0, Qt::AlignBottom);
    head->addWidget(DSText::label(QStringLiteral("v") + view.skillVersion, DSFont::monoMedium(10.5), DS::muted(0.45)),
        0, Qt::AlignBottom);
    head->addStretch(1);
    head->addSpacing(6);
    const SkillCopy::Look ready = SkillCopy::readiness(view.resolutionStatus);
    head->addWidget(
        new Chip(QString(), ready.tint, ready.text, QStringLiteral("skill.status.") + role), 0, Qt::AlignVCenter);

    // What makes a delivery count.
    QVBoxLayout* conditions = nullptr;
    blocks->addWidget(column(4, contract, &conditions));
    conditions->addWidget(title(QStringLiteral("交付才算数的条件"), DS::muted(0.65)));
    for (const QString& artifact : view.requiredArtifacts)
        conditions->addWidget(
            new SymbolLabel(QStringLiteral("doc.fill"), artifact, 9, DSFont::medium(11.5), DS::muted(0.6), 2));
    for (const QString& validator : view.requiredValidators) {
        const bool available = view.validatorsAvailable.value(validator, false);
        QHBoxLayout* line = row(conditions, 5);
        line->addWidget(new Icon(available ? QStringLiteral("checkmark.seal.fill")
                                           : QStringLiteral("exclamationmark.triangle.fill"),
                            9, available ? DS::mint() : DS::amber()),
            0, Qt::AlignVCenter);
        line->addWidget(DSText::label(validator, DSFont::medium(11.5), DS::muted(0.6)), 0, Qt::AlignVCenter);
        if (!available)
            line->addWidget(DSText::label(QStringLiteral("这项校验此刻用不了"), DSFont::medium(10.5), DS::amber()), 0,
                Qt::AlignVCenter);
        line->addStretch(1);
    }
    if (view.humanReview) {
        auto* review = new SymbolLabel(QStringLiteral("person.crop.circle.badge.checkmark"),
            QStringLiteral("这类交付必须有人过目"), 9, DSFont::medium(11.5), DS::amber(), 2);
        review->setObjectName(QStringLiteral("skill.humanreview.") + role);
        conditions->addWidget(review);
    }

    // How far each capability is proven.
    QVBoxLayout* capabilities = nullptr;
    blocks->addWidget(column(4, contract, &capabilities));
    capabilities->addWidget(title(QStringLiteral("能力（每条都写清楚验到什么程度）"), DS::muted(0.65)));
    for (const CapabilityView& cap : view.capabilities) {
        QHBoxLayout* line = row(capabilities, 6);
        auto* key = DSText::label(cap.capability, DSFont::monoMedium(11), DS::muted(0.7));
        key->setFixedWidth(92);
        line->addWidget(key, 0, Qt::AlignBottom);
        auto* level = DSText::label(SkillCopy::evidenceLabel(cap.evidenceLevel), DSFont::semiBold(11),
            SkillCopy::evidenceTint(cap.evidenceLevel));
        level->setObjectName(QStringLiteral("skill.cap.") + cap.capability);
        line->addWidget(level, 0, Qt::AlignBottom);
        if (!cap.runtimeCompatibility.isEmpty())
            line->addWidget(DSText::label(SkillCopy::compatibilityText(cap.runtimeCompatibility.size()),
                                DSFont::medium(10.5), DS::muted(0.45)),
                0, Qt::AlignBottom);
        line->addStretch(1);
    }

    // What still blocks it.
    if (!view.blocking.isEmpty()) {
        QVBoxLayout* blockers = nullptr;
        blocks->addWidget(column(4, contract, &blockers));
        blockers->addWidget(title(QStringLiteral("现在还差"), DS::amber()));
        for (const BlockingView& b : view.blocking) {
            QHBoxLayout* line = row(blockers, 6, QStringLiteral("skill.blocking.") + b.kind);
            line->addWidget(DSText::label(b.what, DSFont::semiBold(11.5), DS::ink()), 0, Qt::AlignTop);
            line->addWidget(DSText::label(SkillCopy::ownerLabel(b.nextStepOwner), DSFont::medium(10.5), DS::amber()), 0,
                Qt::AlignTop);
            auto* why = new AnywhereLabel;
            why->setText(b.why);
            why->setFont(DSFont::medium(11));
            DSText::setColour(why, DS::muted(0.55));
            line->addWidget(why, 1, Qt::AlignTop);
        }
    }
    return contract;
}

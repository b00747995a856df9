#include "core/workforce/EmployeeSkillView.h"

#include <QJsonArray>
#include <QJsonObject>

namespace {

QString text(const QJsonObject& o, const char* key, const QString& fallback = {})
{
    const QJsonValue v = o.value(QLatin1String(key));
    return v.isString() ? v.toString() : fallback;
}

bool boolean(const QJsonObject& o, const char* key)
{
    const QJsonValue v = o.value(QLatin1String(key));
    return v.isBool() && v.toBool();
}

// A list of texts, or empty when any element is not a text.
QStringList textList(const QJsonObject& o, const char* key)
{
    const QJsonValue v = o.value(QLatin1String(key));
    if (!v.isArray())
        return {};
    QStringList out;
    for (const QJsonValue& e : v.toArray()) {
        if (!e.isString())
            return {};
        out.append(e.toString());
    }
    return out;
}

// A list of records, or empty when any element fails to decode.
template <typename T> QList<T> recordList(const QJsonObject& o, const char* key)
{
    const QJsonValue v = o.value(QLatin1String(key));
    if (!v.isArray())
        return {};
    QList<T> out;
    for (const QJsonValue& e : v.toArray()) {
        auto record = T::fromJson(e);
        if (!record)
            return {};
        out.append(*record);
    }
    return out;
}

} // namespace

std::optional<CapabilityView> CapabilityView::fromJson(const QJsonValue& value)
{
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject o = value.toObject();
    CapabilityView c;
    c.capability = text(o, "capability");
    c.evidenceLevel = text(o, "evidence_level", QStringLiteral("unknown"));
    c.sufficient = boolean(o, "sufficient");
    c.why = text(o, "why");
    c.evidenceRef = text(o, "evidence_ref");
    c.runtimeCompatibility = textList(o, "runtime_compatibility");
    return c;
}

std::optional<BlockingView> BlockingView::fromJson(const QJsonValue& value)
{
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject o = value.toObject();
    BlockingView b;
    b.kind = text(o, "kind");
    b.what = text(o, "what");
    b.why = text(o, "why");
    b.nextStepOwner = text(o, "next_step_owner");
    b.status = text(o, "status");
    return b;
}

std::optional<EmployeeSkillView> EmployeeSkillView::fromJson(const QJsonValue& value)
{
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject o = value.toObject();
    EmployeeSkillView s;
    s.employeeRole = text(o, "employee_role");
    s.skillID = text(o, "skill_id");
    s.skillName = text(o, "skill_name");
    s.skillVersion = text(o, "skill_version");
    s.resolutionStatus = text(o, "resolution_status");
    s.capabilities = recordList<CapabilityView>(o, "capabilities");
    s.requiredArtifacts = textList(o, "required_artifacts");
    s.requiredValidators = textList(o, "required_validators");
    const QJsonValue validators = o.value(QLatin1String("validators_available"));
    if (validators.isObject()) {
        const QJsonObject map = validators.toObject();
        for (auto it = map.begin(); it != map.end(); ++it) {
            if (!it.value().isBool()) {
                s.validatorsAvailable.clear();
                break;
            }
            s.validatorsAvailable.insert(it.key(), it.value().toBool());
        }
    }
    s.humanReview = boolean(o, "human_review");
    s.blocking = recordList<BlockingView>(o, "blocking");
    s.candidateRuntimes = textList(o, "candidate_runtimes");
    return s;
}

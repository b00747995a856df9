#include "core/workforce/EmployeeSkillView.h"

#include "core/gateway/Json.h"

std::optional<CapabilityView> CapabilityView::fromJson(const QJsonValue& value)
{
    if (!value.isObject())
        return std::nullopt;
    const json::LenientReader r(value.toObject());
    CapabilityView c;
    c.capability = r.string(QStringLiteral("capability"));
    c.evidenceLevel = r.string(QStringLiteral("evidence_level"), QStringLiteral("unknown"));
    c.sufficient = r.boolean(QStringLiteral("sufficient"));
    c.why = r.string(QStringLiteral("why"));
    c.evidenceRef = r.string(QStringLiteral("evidence_ref"));
    c.runtimeCompatibility = r.wholeStringList(QStringLiteral("runtime_compatibility"));
    return c;
}

std::optional<BlockingView> BlockingView::fromJson(const QJsonValue& value)
{
    if (!value.isObject())
        return std::nullopt;
    const json::LenientReader r(value.toObject());
    BlockingView b;
    b.kind = r.string(QStringLiteral("kind"));
    b.what = r.string(QStringLiteral("what"));
    b.why = r.string(QStringLiteral("why"));
    b.nextStepOwner = r.string(QStringLiteral("next_step_owner"));
    b.status = r.string(QStringLiteral("status"));
    return b;
}

std::optional<EmployeeSkillView> EmployeeSkillView::fromJson(const QJsonValue& value)
{
    if (!value.isObject())
        return std::nullopt;
    const json::LenientReader r(value.toObject());
    EmployeeSkillView s;
    s.employeeRole = r.string(QStringLiteral("employee_role"));
    s.skillID = r.string(QStringLiteral("skill_id"));
    s.skillName = r.string(QStringLiteral("skill_name"));
    s.skillVersion = r.string(QStringLiteral("skill_version"));
    s.resolutionStatus = r.string(QStringLiteral("resolution_status"));
    s.capabilities = r.wholeList<CapabilityView>(QStringLiteral("capabilities"), &CapabilityView::fromJson);
    s.requiredArtifacts = r.wholeStringList(QStringLiteral("required_artifacts"));
    s.requiredValidators = r.wholeStringList(QStringLiteral("required_validators"));
    s.validatorsAvailable = r.wholeBoolMap(QStringLiteral("validators_available"));
    s.humanReview = r.boolean(QStringLiteral("human_review"));
    s.blocking = r.wholeList<BlockingView>(QStringLiteral("blocking"), &BlockingView::fromJson);
    s.candidateRuntimes = r.wholeStringList(QStringLiteral("candidate_runtimes"));
    return s;
}

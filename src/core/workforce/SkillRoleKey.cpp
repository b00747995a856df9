#include "core/workforce/SkillRoleKey.h"

#include "core/platform/BlankTrim.h"

#include <array>
#include <utility>

namespace {

using Row = std::pair<const char*, const char*>;
// Titles as the roster gives them (lower-cased) to the tool's role keys.
constexpr std::array<Row, 15> kRoles { {
    { "ai full-stack engineer", "ai_developer" },
    { "ai deep researcher", "ai_researcher" },
    { "ai devops & security engineer", "ai_security_officer" },
    { "ai investment analyst", "ai_investment_analyst" },
    { "ai assistant", "ai_executive_assistant" },
    { "ai lawyer", "ai_lawyer" },
    { "ai sales", "ai_sales" },
    { "ai customer service", "ai_customer_service" },
    { "ai developer", "ai_developer" },
    { "ai researcher", "ai_researcher" },
    { "ai security officer", "ai_security_officer" },
    { "ai finance analyst", "ai_finance_analyst" },
    { "ai executive assistant", "ai_executive_assistant" },
    { "ai sre / devops", "ai_sre" },
    { "ai full-stack developer", "ai_fullstack_developer" },
} };

} // namespace

std::optional<QString> skillRoleKey(const QString& title)
{
    const QString key = trimBlanks(title).toLower();
    for (const auto& [name, role] : kRoles) {
        if (key == QLatin1String(name))
            return QString::fromLatin1(role);
    }
    for (const auto& row : kRoles) {
        if (key == QLatin1String(row.second))
            return key;
    }
    return std::nullopt;
}

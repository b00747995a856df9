#include "core/workforce/SkillLoader.h"

#include "core/platform/OffMainThread.h"
#include "core/platform/ProcessGroup.h"
#include "core/workforce/SkillBridge.h"

#include <QPointer>

SkillLoader::SkillLoader(QObject* parent)
    : QObject(parent)
{
}

QCoro::Task<> SkillLoader::load(QString role, std::optional<CLIConfig> config)
{
    m_role = role;
    if (role.isEmpty())
        co_return;

    QPointer<SkillLoader> self(this);
    const auto limit = m_timeLimit;
    // The run is stopped when the loader goes first.
    const ProcessGroup::Scope scope(this);
    auto job = [role, config, limit, group = scope.group()] { return SkillBridge::load(role, config, limit, group); };
    auto task = offMainThread(std::move(job));
    const SkillBridge::Result result = co_await std::move(task);
    if (!self || self->m_role != role)
        co_return;

    if (const auto* view = std::get_if<EmployeeSkillView>(&result)) {
        m_skill = *view;
        m_skillError.reset();
    } else {
        m_skill.reset();
        m_skillError = std::get<SkillBridge::LoadError>(result).detail;
    }
    emit changed();
}

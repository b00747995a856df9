#include "core/design/TolvarineStatus.h"

#include "core/design/DS.h"

namespace TolvarineStatuses {

namespace {

enum class Tint { cyan, amber, mint, blue, failureRed, inactive };

struct Entry {
    const char* raw;
    const char* zh;
    Tint tint;
};

// Indexed by the enum's value.
constexpr Entry kEntries[] = {
    { "Running", "正在执行", Tint::cyan },
    { "Waiting Approval", "等待批准", Tint::amber },
    { "Waiting Dependency", "等待依赖", Tint::amber },
    { "Completed", "已完成", Tint::mint },
    { "Failed", "失败", Tint::failureRed },
    { "Offline", "离线", Tint::inactive },
    { "Login Required", "待登录", Tint::amber },
    { "Auth Required", "待配凭据", Tint::amber },
    { "Idle", "待命", Tint::mint },
    { "Stopped", "已停止", Tint::inactive },
    { "Installed", "已安装", Tint::mint },
    { "Not Installed", "未安装", Tint::inactive },
    { "Queued", "排队中", Tint::blue },
    { "Dependency Failed", "前置失败", Tint::failureRed },
    { "Runtime Unavailable", "没有可用的 CLI", Tint::amber },
    { "Unassigned", "未分配", Tint::inactive },
    { "Partially Done", "部分完成", Tint::amber },
};
static_assert(std::size(kEntries) == 17);

const Entry& entry(TolvarineStatus status)
{
    return kEntries[static_cast<int>(status)];
}

} // namespace

const std::array<TolvarineStatus, 17>& allCases()
{
    static const std::array<TolvarineStatus, 17> cases = [] {
        std::array<TolvarineStatus, 17> a {};
        for (int i = 0; i < 17; ++i)
            a[i] = static_cast<TolvarineStatus>(i);
        return a;
    }();
    return cases;
}

QString rawValue(TolvarineStatus status)
{
    return QString::fromUtf8(entry(status).raw);
}

std::optional<TolvarineStatus> fromRawValue(const QString& raw)
{
    for (TolvarineStatus s : allCases()) {
        if (raw == QLatin1String(entry(s).raw))
            return s;
    }
    return std::nullopt;
}

QString zh(TolvarineStatus status)
{
    return QString::fromUtf8(entry(status).zh);
}

QColor tint(TolvarineStatus status)
{
    switch (entry(status).tint) {
    case Tint::cyan:
        return DS::cyan();
    case Tint::amber:
        return DS::amber();
    case Tint::mint:
        return DS::mint();
    case Tint::blue:
        return DS::blue();
    case Tint::failureRed:
        return DS::failureRed();
    case Tint::inactive:
        break;
    }
    return DS::muted(0.45);
}

} // namespace TolvarineStatuses

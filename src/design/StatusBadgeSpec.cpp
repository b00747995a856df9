#include "design/StatusBadgeSpec.h"

#include "design/DS.h"

StatusBadgeSpec StatusBadgeSpec::forRuntime(RuntimeUsability usability)
{
    const QString stable = RuntimeUsabilities::rawValue(usability);
    auto spec = [&](const char* text, const QColor& tint) {
        return StatusBadgeSpec {QString::fromUtf8(text), tint, stable, true};
    };
    switch (usability) {
    case RuntimeUsability::ready:
        return spec("可用", DS::mint());
    case RuntimeUsability::loginRequired:
        return spec("待登录", DS::amber());
    case RuntimeUsability::credentialsRequired:
        return spec("待配凭据", DS::amber());
    case RuntimeUsability::notInstalled:
        return spec("未安装", DS::muted(0.45));
    case RuntimeUsability::unsupported:
        return spec("不支持", DS::muted(0.45));
    case RuntimeUsability::userSupplied:
        return spec("由你指定可执行文件", DS::muted(0.45));
    case RuntimeUsability::degraded:
        return spec("状态不明", DS::at(DS::amber(), 0.75));
    case RuntimeUsability::unknown:
        break;
    }
    return spec("未知状态", DS::at(DS::amber(), 0.75));
}

#include "core/design/StatusBadgeLook.h"

#include "core/design/DS.h"

StatusBadgeLook StatusBadgeLook::forRuntime(RuntimeUsability usability)
{
    const QString stable = RuntimeUsabilities::rawValue(usability);
    auto look = [&](const char* text, const QColor& tint) {
        return StatusBadgeLook { QString::fromUtf8(text), tint, stable, true };
    };
    switch (usability) {
    case RuntimeUsability::ready:
        return look("可用", DS::mint());
    case RuntimeUsability::loginRequired:
        return look("待登录", DS::amber());
    case RuntimeUsability::credentialsRequired:
        return look("待配凭据", DS::amber());
    case RuntimeUsability::notInstalled:
        return look("未安装", DS::muted(0.45));
    case RuntimeUsability::unsupported:
        return look("不支持", DS::muted(0.45));
    case RuntimeUsability::userSupplied:
        return look("由你指定可执行文件", DS::muted(0.45));
    case RuntimeUsability::degraded:
        return look("状态不明", DS::at(DS::amber(), 0.75));
    case RuntimeUsability::unknown:
        break;
    }
    return look("未知状态", DS::at(DS::amber(), 0.75));
}

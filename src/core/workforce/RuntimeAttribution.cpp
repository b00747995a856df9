#include "core/workforce/RuntimeAttribution.h"

QString RuntimeAttribution::diagnosticText() const
{
    switch (kind) {
    case Kind::known:
        return QStringLiteral("这一趟跑在 ") + name + QStringLiteral(" 上（来自 command.ran_runtime）");
    case Kind::lastKnown:
        return QStringLiteral("上一趟跑在 ") + name + QStringLiteral(" 上；这一趟他手上没有正在跑的活");
    case Kind::deviceOnly:
        return QStringLiteral("他那台机器此刻登记的是 ") + name
            + QStringLiteral("，但那是**机器**的读数 —— 同一台机器上可能绑着别的同事，说不出这一趟是不是他的");
    case Kind::ambiguous:
        return QStringLiteral("这台机器上登记了 ") + QString::number(count)
            + QStringLiteral(" 家 Runtime，契约里没有「这一趟用的是哪一家」，所以说不出来");
    case Kind::unknown:
        return QStringLiteral("GET /agents 这个视图没有数据（生产链路上无人写它），说不出这台机器登记过哪家 Runtime");
    case Kind::noMachine:
        return QStringLiteral("还没分到机器，没有 Runtime 可言");
    }
    return {};
}

#include "core/platform/UuidText.h"

namespace UuidText {

QString stored(const QUuid& id)
{
    return id.toString(QUuid::WithoutBraces).toUpper();
}

QString plain(const QUuid& id)
{
    return id.toString(QUuid::WithoutBraces).toLower();
}

} // namespace UuidText

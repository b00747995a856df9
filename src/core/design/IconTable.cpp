#include "core/design/IconTable.h"

#include <QHash>

namespace IconTable {

namespace {

// Symbol name used by the screens → Phosphor icon file (bold outline or fill
// weight; outlines are the bold weight so that they stay legible at 8-12 px).
const QHash<QString, QString>& table()
{
    static const QHash<QString, QString> t = {
        { "bolt.horizontal.circle", "plugs-connected-bold" },
        { "bolt.slash", "lightning-slash-bold" },
        { "bubble.left", "chat-bold" },
        { "checkmark", "check-bold" },
        { "checkmark.circle.fill", "check-circle-fill" },
        { "checkmark.seal.fill", "seal-check-fill" },
        { "chevron.right", "caret-right-bold" },
        { "circle", "circle-bold" },
        { "circle.dashed", "circle-dashed-bold" },
        { "circle.dotted", "circle-dashed-bold" },
        { "clock.fill", "clock-fill" },
        { "cpu", "cpu-bold" },
        { "doc.fill", "file-fill" },
        { "doc.text", "file-text-bold" },
        { "exclamationmark", "exclamation-mark-bold" },
        { "exclamationmark.triangle", "warning-bold" },
        { "exclamationmark.triangle.fill", "warning-fill" },
        { "folder", "folder-bold" },
        { "gearshape.2", "gear-six-bold" },
        { "gearshape.2.fill", "gear-six-fill" },
        { "hand.raised", "hand-palm-bold" },
        { "hand.raised.circle.fill", "hand-palm-fill" },
        { "hand.raised.fill", "hand-palm-fill" },
        { "hourglass", "hourglass-bold" },
        { "info.circle", "info-bold" },
        { "key", "key-bold" },
        { "moon.zzz.fill", "moon-stars-fill" },
        { "nosign", "prohibit-bold" },
        { "pencil", "pencil-simple-bold" },
        { "person.crop.circle.badge.checkmark", "user-circle-check-bold" },
        { "play.fill", "play-fill" },
        { "plus", "plus-bold" },
        { "qrcode", "qr-code-bold" },
        { "questionmark.circle", "question-bold" },
        { "shippingbox", "package-bold" },
        { "smallcircle.filled.circle", "record-bold" },
        { "terminal", "terminal-bold" },
        { "testtube.2", "test-tube-bold" },
        { "xmark", "x-bold" },
        { "xmark.octagon", "x-circle-bold" },
        { "xmark.octagon.fill", "x-circle-fill" },
        { "xmark.seal.fill", "seal-warning-fill" },
    };
    return t;
}

} // namespace

QString resourcePath(const QString& symbol)
{
    const auto it = table().constFind(symbol);
    if (it == table().constEnd())
        return {};
    return QStringLiteral(":/icons/") + it.value() + QStringLiteral(".svg");
}

QStringList symbols()
{
    QStringList names = table().keys();
    names.sort();
    return names;
}

} // namespace IconTable

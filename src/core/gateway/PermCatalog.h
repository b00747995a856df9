#pragma once

#include "core/gateway/Records.h"

#include <QList>
#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>

// The six permission tiers, and what is derived from them.
namespace perm {

struct Tier {
    QString key;
    QString title;
    QString detail;
};

// The tiers in the order of the rows, of automatic confirmation and of the grant arguments.
const QList<Tier>& catalog();

// The progress kinds that show a tier in use; none for tiers the progress cannot show.
std::optional<QSet<QString>> evidenceKinds(const QString& key);

// The six rows for a permission reply: granted when effective says true,
// else pending when pending lists it, else denied.
QList<PermRow> rows(const QMap<QString, bool>& effective, const QStringList& pending);
// The catalogue keys, in catalogue order, that the reply lists as pending.
QStringList pendingKeys(const QStringList& pending);

// Every tier granted in `rows` (not those waiting for a confirmation), plus
// `key`, in catalogue order, each once.
QStringList grantArgs(const QList<PermRow>& rows, const QString& key);

// Whether the followed command's progress shows the tier in use.
PermUse usage(const QString& key, bool hasFocalCommand, const std::optional<QString>& progressError,
    const QList<ProgressLine>& progress);

} // namespace perm

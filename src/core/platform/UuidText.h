#pragma once

#include <QString>
#include <QUuid>

// The two spellings of an id the application writes. Stored files and secret
// store account names already hold them, so neither may change.
namespace UuidText {

// Upper-case without braces: the id as the stores write it into their files.
QString stored(const QUuid& id);
// Lower-case without braces: the id in secret store account names and labels,
// and in widget names.
QString plain(const QUuid& id);

} // namespace UuidText

#pragma once

#include <QString>
#include <QStringList>

// The screens name their symbols as the design does ("checkmark.seal.fill",
// "chevron.right", …); this table maps each to one bundled SVG icon. The SVGs
// are single-colour and are tinted when painted.
namespace IconTable {

// The resource path (":/icons/….svg") of a symbol; empty for an unknown name.
QString resourcePath(const QString& symbol);

// Every mapped symbol name, sorted.
QStringList symbols();

} // namespace IconTable

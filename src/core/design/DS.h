#pragma once

#include <QColor>

// The fixed dark palette every screen draws with. Each colour is built once,
// on first use (thread-safe static initialisation), and read-only afterwards.
namespace DS {

const QColor& bg();
const QColor& ink();
const QColor& ink2();
const QColor& mint();
const QColor& cyan();
const QColor& blue();
const QColor& amber();
const QColor& deepInk();
const QColor& danger();
const QColor& dangerFill();
const QColor& hair(); // white at 0.07: border of a plain card
const QColor& line(); // white at 0.06: border of a skeleton card

// A colour at opacity p: its alpha multiplied by p (a translucent colour stays
// proportionally translucent).
QColor at(const QColor& colour, qreal p);

// The muted grey: ink2's components at opacity p.
QColor muted(qreal p);

// The tint of the failed states, (1.0, 0.42, 0.42); not `danger`.
QColor failureRed();

} // namespace DS

#pragma once

class QLayout;

// Takes every item out of `layout`. Its widgets are hidden at once and
// deleted when control returns to the event loop: one of them may be the
// button whose click is being handled.
void clearLayout(QLayout* layout);

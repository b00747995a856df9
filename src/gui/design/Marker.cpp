#include "gui/design/Marker.h"

Marker::Marker(const QString& identifier, const QString& label, QWidget* parent)
    : QWidget(parent)
{
    setObjectName(identifier);
    setAccessibleName(label);
    setFixedSize(1, 1);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);
}

#include "gui/design/ClearLayout.h"

#include "gui/design/FocusKeeper.h"

#include <QLayout>
#include <QWidget>

void clearLayout(QLayout* layout)
{
    while (QLayoutItem* item = layout->takeAt(0)) {
        if (QWidget* w = item->widget()) {
            FocusKeeper::release(w);
            w->hide();
            w->deleteLater();
        }
        delete item;
    }
}

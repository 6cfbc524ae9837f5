#include "SheetSize.h"

#include <QDialog>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace SheetSize {

QSize fitting(const QWidget* parent, QSize preferred)
{
    const QWidget* owner = parent ? parent->window() : nullptr;
    if (owner && owner->isVisible())
        preferred = preferred.boundedTo(owner->size());
    const QScreen* screen = owner ? owner->screen() : QGuiApplication::primaryScreen();
    if (screen)
        preferred = preferred.boundedTo(screen->availableGeometry().size());
    return preferred;
}

void fit(QDialog& sheet, QSize preferred, QSize minimum)
{
    const QSize size = fitting(sheet.parentWidget(), preferred);
    if (!minimum.isValid()) {
        sheet.setFixedSize(size);
        return;
    }
    sheet.setMinimumSize(fitting(sheet.parentWidget(), minimum));
    sheet.setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    sheet.resize(size);
}

} // namespace SheetSize

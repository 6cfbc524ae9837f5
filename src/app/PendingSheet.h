#pragma once

#include <QString>

class QDialog;

// Lays out a sheet that stands in for the task form until it exists: a title, a line that
// says so and a "Cancel" button.
namespace PendingSheet {
void build(QDialog& sheet, const QString& title);
}

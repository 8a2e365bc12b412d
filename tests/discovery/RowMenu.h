#pragma once

#include <QStringList>

class QTableWidget;

// Opens the context menu of `row` of `table` as a right-click on the row
// does and chooses the action named `actionName` with the keyboard. Returns
// the menu's texts; whatever the action runs has run when it returns.
QStringList ChooseFromRowMenu(QTableWidget* table, int row, const char* actionName);

// Small pieces the windows are built from: buttons Enter never presses (every box and stage of
// the program wants an explicit click), word-wrapped and bold labels, and a right-aligned row of
// buttons.
#pragma once

#include <initializer_list>

class QBoxLayout;
class QLabel;
class QPushButton;
class QWidget;

namespace kfr::ui {

QPushButton* plainButton(const char* text, const char* objectName, QWidget* parent);
QLabel* wrappedLabel(const char* text, QWidget* parent);
void makeBold(QWidget* widget);
// Adds the buttons to layout in a row of their own, pushed to the right.
void addButtonRow(QBoxLayout* layout, std::initializer_list<QPushButton*> buttons);

}  // namespace kfr::ui

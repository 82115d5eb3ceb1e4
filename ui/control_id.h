// Every control carries its numeric id, so windows and tests find controls by number.
#pragma once

#include <QWidget>

namespace ui {

// Sets the property "controlId" and the object name "id<id>" (e.g. "id1014").
void set_control_id(QWidget* widget, int id);

// The control id of `widget`, or -1 when it has none.
int control_id(const QWidget* widget);

// `root` itself or its first descendant with control id `id`; nullptr when there is none.
QWidget* find_control(QWidget* root, int id);

} // namespace ui

#include "ui/control_id.h"

#include <QVariant>

namespace ui {
namespace {

QString id_name(int id) { return QStringLiteral("id%1").arg(id); }

} // namespace

void set_control_id(QWidget* widget, int id) {
    if (widget == nullptr)
        return;
    widget->setProperty("controlId", id);
    widget->setObjectName(id_name(id));
}

int control_id(const QWidget* widget) {
    if (widget == nullptr)
        return -1;
    bool ok = false;
    const int id = widget->property("controlId").toInt(&ok);
    return ok ? id : -1;
}

QWidget* find_control(QWidget* root, int id) {
    if (root == nullptr)
        return nullptr;
    if (control_id(root) == id)
        return root;
    return root->findChild<QWidget*>(id_name(id));
}

} // namespace ui

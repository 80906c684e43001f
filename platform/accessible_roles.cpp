#include "accessible_roles.h"

#include "image_box.h"

#include <QAccessibleWidget>

namespace {
QAccessibleInterface *accessibleWithRole(const QString &className, QObject *object)
{
    if (!object || !object->isWidgetType())
        return nullptr;
    auto *widget = static_cast<QWidget *>(object);
    const QMetaObject *type = object->metaObject();
    // Qt asks once per class up the hierarchy; only the object's own class is ours to answer.
    if (className != QLatin1String(type->className()))
        return nullptr;
    if (type->inherits(&ImageBox::staticMetaObject))
        return new QAccessibleWidget(widget, QAccessible::Graphic);
    // A form is a window made straight from QWidget. Dialogs and message boxes
    // derive from QDialog, and menus are popups: they keep the roles Qt gives them.
    if (widget->windowType() == Qt::Window && type->superClass() == &QWidget::staticMetaObject)
        return new QAccessibleWidget(widget, QAccessible::Window);
    return nullptr;
}
} // namespace

void installAccessibleRoles()
{
    QAccessible::installFactory(accessibleWithRole);
}

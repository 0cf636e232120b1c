#pragma once

// Gives assistive tools our own accessible interface for a widget class of
// ours: Qt asks every installed factory with the class name of the object.
#include <QAccessible>
#include <QLatin1String>

template <class Widget, class Interface>
QAccessibleInterface* AccessibleFactory(const QString& className, QObject* object)
{
    if (object && object->isWidgetType() && className == QLatin1String(Widget::staticMetaObject.className()))
        return new Interface(static_cast<Widget*>(object));
    return nullptr;
}

// Installs the factory once per process, however often it is asked.
template <class Widget, class Interface> void InstallAccessibleFactory()
{
    static const bool installed = [] {
        QAccessible::installFactory(&AccessibleFactory<Widget, Interface>);
        return true;
    }();
    (void)installed;
}

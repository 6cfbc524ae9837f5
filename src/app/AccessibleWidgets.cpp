#include "AccessibleWidgets.h"

#include <QAbstractItemView>
#include <QAccessibleWidget>
#include <QComboBox>
#include <QKeySequence>
#include <QLineEdit>

namespace {

// A picker as Qt presents it (its value, the popup list as its child, the actions that open
// it), named as a field.
class AccessiblePicker final : public QAccessibleWidget {
public:
    explicit AccessiblePicker(QComboBox* picker) : QAccessibleWidget(picker, QAccessible::ComboBox)
    {}

    int childCount() const override { return picker()->lineEdit() ? 2 : 1; }

    QAccessibleInterface* child(int index) const override
    {
        if (index == 0)
            return QAccessible::queryAccessibleInterface(picker()->view());
        if (index == 1 && picker()->lineEdit())
            return QAccessible::queryAccessibleInterface(picker()->lineEdit());
        return nullptr;
    }

    int indexOfChild(const QAccessibleInterface* child) const override
    {
        if (!child)
            return -1;
        if (child->object() == picker()->view())
            return 0;
        if (picker()->lineEdit() && child->object() == picker()->lineEdit())
            return 1;
        return -1;
    }

    QAccessibleInterface* childAt(int x, int y) const override
    {
        QLineEdit* edit = picker()->lineEdit();
        if (edit && edit->isVisible() &&
            QRect(edit->mapToGlobal(QPoint(0, 0)), edit->size()).contains(x, y))
            return child(1);
        return nullptr;
    }

    // An editable picker's text field holds the focus for it.
    QAccessibleInterface* focusChild() const override
    {
        if (QLineEdit* edit = picker()->lineEdit())
            return QAccessible::queryAccessibleInterface(edit);
        return nullptr;
    }

    QString text(QAccessible::Text kind) const override
    {
        switch (kind) {
        case QAccessible::Name: {
            // The widget's own name, else its label's text; only an unnamed, unlabelled
            // picker is called by what it shows.
            const QString name = QAccessibleWidget::text(kind);
            return name.isEmpty() ? value() : name;
        }
        case QAccessible::Value:
            return value();
        case QAccessible::Accelerator:
            return QKeySequence(Qt::Key_Down).toString(QKeySequence::NativeText);
        default:
            return QAccessibleWidget::text(kind);
        }
    }

    QStringList actionNames() const override { return {showMenuAction(), pressAction()}; }

    QString localizedActionDescription(const QString& action) const override
    {
        if (action == showMenuAction() || action == pressAction())
            return QStringLiteral("Open the list");
        return QAccessibleWidget::localizedActionDescription(action);
    }

    void doAction(const QString& action) override
    {
        if (action != showMenuAction() && action != pressAction()) {
            QAccessibleWidget::doAction(action);
            return;
        }
        if (picker()->view()->isVisible())
            picker()->hidePopup();
        else
            picker()->showPopup();
    }

    QStringList keyBindingsForAction(const QString&) const override { return {}; }

private:
    QComboBox* picker() const { return static_cast<QComboBox*>(object()); }
    QString value() const
    {
        return picker()->lineEdit() ? picker()->lineEdit()->text() : picker()->currentText();
    }
};

QAccessibleInterface* factory(const QString& className, QObject* object)
{
    // Asked for each class from the most derived up: every picker, ours or a dialog's, reaches
    // "QComboBox" before Qt's own factory is asked for it.
    if (className == QLatin1String("QComboBox") && object && object->isWidgetType())
        return new AccessiblePicker(static_cast<QComboBox*>(object));
    return nullptr;
}

} // namespace

namespace AccessibleWidgets {

void install()
{
    static const bool installed = [] {
        QAccessible::installFactory(factory);
        return true;
    }();
    Q_UNUSED(installed);
}

} // namespace AccessibleWidgets

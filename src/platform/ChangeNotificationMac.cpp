#include "ChangeNotification.h"

#include <QMetaObject>

#include <CoreFoundation/CoreFoundation.h>

namespace {
CFStringRef notificationName() { return CFSTR("com.brenmor-ops.tasksDidChange"); }

void deliver(CFNotificationCenterRef, void* observer, CFNotificationName, const void*,
             CFDictionaryRef)
{
    auto* self = static_cast<ChangeObserver*>(observer);
    // Hand over to the observer's event loop: the reload never runs inside the delivery.
    QMetaObject::invokeMethod(
        self, [self] { Q_EMIT self->received(); }, Qt::QueuedConnection);
}
} // namespace

namespace ChangeNotification {

QString tasksDidChangeName() { return QStringLiteral("com.brenmor-ops.tasksDidChange"); }

void postTasksDidChange()
{
    CFNotificationCenterPostNotification(CFNotificationCenterGetDistributedCenter(),
                                         notificationName(), nullptr, nullptr, true);
}

} // namespace ChangeNotification

ChangeObserver::ChangeObserver(QObject* parent) : QObject(parent)
{
    CFNotificationCenterAddObserver(CFNotificationCenterGetDistributedCenter(), this, &deliver,
                                    notificationName(), nullptr,
                                    CFNotificationSuspensionBehaviorDeliverImmediately);
    m_listening = true;
}

ChangeObserver::~ChangeObserver()
{
    CFNotificationCenterRemoveObserver(CFNotificationCenterGetDistributedCenter(), this,
                                       notificationName(), nullptr);
}

void ChangeObserver::onSignal(const QString&) {}

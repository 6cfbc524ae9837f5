#include "AppNotifications.h"

AppNotifications& AppNotifications::instance()
{
    static AppNotifications center;
    return center;
}

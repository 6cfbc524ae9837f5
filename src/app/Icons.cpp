#include "Icons.h"

#include <QHash>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

// The icons are compiled into this static library; naming the initializer here keeps the
// linker from dropping them.
static void initIconResources()
{
    static const bool done = [] {
        Q_INIT_RESOURCE(icons);
        return true;
    }();
    Q_UNUSED(done);
}

namespace {

// The one table of symbols. Breeze has no outlined circle, so the unselected check mark of the
// select mode uses its grey round choice.
const QHash<QString, QString>& symbolFiles()
{
    static const QHash<QString, QString> files = {
        {QStringLiteral("plus"), QStringLiteral("list-add.svg")},
        {QStringLiteral("plus.circle.fill"), QStringLiteral("emblem-added.svg")},
        {QStringLiteral("clock.badge.checkmark"), QStringLiteral("view-calendar-timeline.svg")},
        {QStringLiteral("clock.badge.questionmark"), QStringLiteral("clock.svg")},
        {QStringLiteral("calendar.badge.clock"), QStringLiteral("view-calendar-day.svg")},
        {QStringLiteral("gearshape.2"), QStringLiteral("run-build-configure.svg")},
        {QStringLiteral("square.and.arrow.up"), QStringLiteral("document-export.svg")},
        {QStringLiteral("trash"), QStringLiteral("edit-delete.svg")},
        {QStringLiteral("checkmark.circle.fill"), QStringLiteral("emblem-checked.svg")},
        {QStringLiteral("circle"), QStringLiteral("choice-round.svg")},
        {QStringLiteral("folder"), QStringLiteral("folder.svg")},
        {QStringLiteral("checkmark.circle"), QStringLiteral("emblem-success.svg")},
        {QStringLiteral("xmark.circle"), QStringLiteral("dialog-close.svg")},
        {QStringLiteral("play.circle"), QStringLiteral("media-playback-start.svg")},
        {QStringLiteral("play.fill"), QStringLiteral("media-playback-start.svg")},
        {QStringLiteral("stop.fill"), QStringLiteral("media-playback-stop.svg")},
        {QStringLiteral("arrow.clockwise.circle"), QStringLiteral("view-refresh.svg")},
        {QStringLiteral("terminal"), QStringLiteral("dialog-scripts.svg")},
        {QStringLiteral("doc.text"), QStringLiteral("view-list-text.svg")},
        {QStringLiteral("doc.on.doc"), QStringLiteral("edit-copy.svg")},
        {QStringLiteral("pencil"), QStringLiteral("document-edit.svg")},
        {QStringLiteral("envelope"), QStringLiteral("mail-message.svg")},
        {QStringLiteral("folder.badge.gearshape"), QStringLiteral("folder.svg")},
        {QStringLiteral("list.bullet.rectangle"), QStringLiteral("view-list-text.svg")},
        {QStringLiteral("doc.text.fill"), QStringLiteral("dialog-scripts.svg")},
        {QStringLiteral("arrow.clockwise"), QStringLiteral("view-refresh.svg")},
        {QStringLiteral("plus.circle"), QStringLiteral("list-add.svg")},
        {QStringLiteral("minus.circle"), QStringLiteral("list-remove.svg")},
        {QStringLiteral("xmark.circle.fill"), QStringLiteral("dialog-close.svg")},
        {QStringLiteral("sparkles.rectangle.stack"), QStringLiteral("system-run.svg")},
        {QStringLiteral("app.dashed"), QStringLiteral("system-run.svg")},
        {QStringLiteral("arrow.up.forward.app"), QStringLiteral("window-new.svg")},
    };
    return files;
}

} // namespace

namespace Icons {

QString resourcePath(const QString& symbolName)
{
    initIconResources();
    const QString file = symbolFiles().value(symbolName);
    return file.isEmpty() ? QString() : QStringLiteral(":/icons/") + file;
}

QIcon symbol(const QString& symbolName)
{
    const QString path = resourcePath(symbolName);
    return path.isEmpty() ? QIcon() : QIcon(path);
}

QPixmap pixmap(const QString& symbolName, int size, qreal devicePixelRatio)
{
    QPixmap result(QSize(size, size) * devicePixelRatio);
    result.setDevicePixelRatio(devicePixelRatio);
    result.fill(Qt::transparent);
    QSvgRenderer renderer(resourcePath(symbolName));
    if (renderer.isValid()) {
        QPainter painter(&result);
        renderer.render(&painter, QRectF(0, 0, size, size));
    }
    return result;
}

} // namespace Icons

#include "Icons.h"

#include <QFile>
#include <QGuiApplication>
#include <QHash>
#include <QIconEngine>
#include <QImage>
#include <QPainter>
#include <QPalette>
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

// The one table of symbols. The select mode's check circles are painted (RowPainting), so they
// take the accent colour; the files here only stand in where a symbol is used as an icon.
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
        {QStringLiteral("power"), QStringLiteral("system-power.svg")},
        {QStringLiteral("exclamationmark.triangle"), QStringLiteral("dialog-warning.svg")},
    };
    return files;
}

} // namespace

namespace Icons {

QColor tint(QIcon::Mode mode)
{
    const QPalette palette = QGuiApplication::palette();
    switch (mode) {
    case QIcon::Selected:
        return palette.color(QPalette::Active, QPalette::HighlightedText);
    case QIcon::Disabled:
        return palette.color(QPalette::Disabled, QPalette::WindowText);
    case QIcon::Normal:
    case QIcon::Active:
        break;
    }
    return palette.color(QPalette::Active, QPalette::WindowText);
}

} // namespace Icons

namespace {

// Breeze draws a symbol's lines in its text colour (the "ColorScheme-Text" class, #232629) and
// its accents (a green check, a red bin) in colours of their own. The text colour is swapped for
// the palette's, the accents stay.
void renderTinted(QPainter* painter, const QString& path, const QRectF& rect, const QColor& color)
{
    static QHash<QString, QByteArray> sources;
    auto found = sources.find(path);
    if (found == sources.end()) {
        QFile file(path);
        found =
            sources.insert(path, file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray());
    }
    QByteArray source = *found;
    source.replace("#232629", color.name(QColor::HexRgb).toLatin1());
    QSvgRenderer renderer(source);
    if (!renderer.isValid())
        return;
    painter->save();
    painter->setOpacity(painter->opacity() * color.alphaF());
    renderer.render(painter, rect);
    painter->restore();
}

// Paints the symbol at paint time, so the colour follows the palette of that moment.
class TintedIconEngine final : public QIconEngine {
public:
    explicit TintedIconEngine(QString path) : m_path(std::move(path)) {}
    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) override
    {
        renderTinted(painter, m_path, rect, Icons::tint(mode));
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override
    {
        return scaledPixmap(size, mode, state, 1.0);
    }
    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State, qreal scale) override
    {
        QPixmap result(size * scale);
        result.setDevicePixelRatio(scale);
        result.fill(Qt::transparent);
        QPainter painter(&result);
        renderTinted(&painter, m_path, QRectF(QPointF(0, 0), QSizeF(size)), Icons::tint(mode));
        return result;
    }
    QIconEngine* clone() const override { return new TintedIconEngine(m_path); }
    QString key() const override { return QStringLiteral("BrenmorTinted"); }

private:
    QString m_path;
};

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
    return path.isEmpty() ? QIcon() : QIcon(new TintedIconEngine(path));
}

QPixmap pixmap(const QString& symbolName, int size, qreal devicePixelRatio, const QColor& color)
{
    QPixmap result(QSize(size, size) * devicePixelRatio);
    result.setDevicePixelRatio(devicePixelRatio);
    result.fill(Qt::transparent);
    QPainter painter(&result);
    renderTinted(&painter, resourcePath(symbolName), QRectF(0, 0, size, size),
                 color.isValid() ? color : tint(QIcon::Normal));
    return result;
}

} // namespace Icons

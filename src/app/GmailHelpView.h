#pragma once

#include <QDialog>
#include <QStringList>
#include <QUrl>

#include <functional>

class QLabel;

// How to make a Gmail app password: six numbered steps, a button that opens the provider's
// app-password page in the browser, and "Done".
class GmailHelpView final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(GmailHelpView)

public:
    // Opens a web page; returns false when nothing could open it.
    using UrlOpener = std::function<bool(const QUrl&)>;

    // Without an opener the system's default browser is used.
    explicit GmailHelpView(QWidget* parent = nullptr, UrlOpener openUrl = {});

    // The six steps, in order.
    static QStringList stepTexts();

private:
    UrlOpener m_openUrl;
};

// The bold title at the top of the mail sheets.
QLabel* makeSheetHeadline(const QString& title, const QString& objectName, QWidget* parent);

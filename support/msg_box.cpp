#include "support/msg_box.h"

#include <QMessageBox>

namespace MsgBox {

namespace {

Handler& handler()
{
    static Handler h;
    return h;
}

int showReal(const Request& r)
{
    // In the log too, for whoever looks into a problem later (and for the end-to-end tests).
    qInfo("Kopyra: Meldung: %s",
          qPrintable(displayText(r.text).replace(QLatin1Char('\n'), QLatin1Char(' '))));
    QMessageBox box(r.parent);
    box.setWindowTitle(r.title);
    box.setTextFormat(Qt::PlainText);
    box.setText(displayText(r.text));
    box.setIcon((r.style & Critical) ? QMessageBox::Critical : QMessageBox::NoIcon);
    if ((r.style & 7) == YesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
    } else {
        box.setStandardButtons(QMessageBox::Ok);
        box.setDefaultButton(QMessageBox::Ok);
    }
    switch (box.exec()) {
    case QMessageBox::Yes:
        return IdYes;
    case QMessageBox::No:
        return IdNo;
    default:
        return IdOk;
    }
}

} // namespace

int msgBox(QWidget* parent, const QString& text, int style, const QString& title)
{
    const Request request{parent, text, style, title};
    return handler() ? handler()(request) : showReal(request);
}

void setHandler(Handler h) { handler() = std::move(h); }

QString displayText(const QString& text)
{
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return shown;
}

} // namespace MsgBox

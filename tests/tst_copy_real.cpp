// A press of the copy button with the real imaging components and a jammed scanner:
// copies that work are driven through real windows by the e2e suite; what it cannot read is
// the text of the one box a failed scan gives.
#include "imaging/scan/img_scan.h"
#include "imaging/scan/scan_preferences.h"
#include "imaging/scan/scanner_choice.h"
#include "main_window/form1.h"
#include "support/german_ui.h"
#include "support/kopyra_application.h"
#include "support/module1.h"
#include "support/msg_box.h"
#include "test_support.h"

#include <QLabel>
#include <QTest>
#include <QToolButton>

class TestCopyReal : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void jammedScannerReportsOnce();
};

void TestCopyReal::jammedScannerReportsOnce()
{
    TestHome home;
    home.seedStore("[Kopyra]\nShowSpecificSetup=0\nAskBeforePrint=0\n");
    imaging::ScannerChoice{QStringLiteral("fault:0"), QString(), QString()}.save();
    imaging::ScanPreferences prefs;
    prefs.mode = imaging::ScanPreferences::Mode::Gray;
    prefs.dpi = 75;
    prefs.save();
    imaging::ImgScan::rememberOptions(
        QStringLiteral("fault:0"),
        {{QStringLiteral("read-return-value"), QStringLiteral("SANE_STATUS_JAMMED")}});
    QStringList boxes;
    MsgBox::setHandler([&boxes](const MsgBox::Request& r) {
        boxes << r.text;
        return MsgBox::IdOk;
    });
    Module1::FirstCopyDone = 0;

    Form1::Environment env;
    env.applicationFolder = home.path();
    Form1 form(env);
    form.Form_Load();
    const QImage idle = form.PicHolder[0]->pixmap().toImage();
    form.Btn[0]->click();
    QCoreApplication::processEvents();
    MsgBox::setHandler({});
    // Member 102 returns when the scan is over, so the jam is reported by phase 0.
    QCOMPARE(boxes.size(), 1);
    QVERIFY(boxes.first().contains(QStringLiteral("Papierstau")));
    QVERIFY(boxes.first().endsWith(QStringLiteral("\r\rPhase: 0")));
    QCOMPARE(form.Btn[0]->icon().pixmap(82, 82).toImage(), idle);
    QCOMPARE(Module1::FirstCopyDone, std::int16_t(0));
}

KOPYRA_TEST_MAIN(TestCopyReal)

#include "tst_copy_real.moc"

// The scan control when SANE finds no scanner at all (SANE configured without backends).
#include "imaging/img_scan.h"
#include "imaging/scanner_choice.h"
#include "test_home.h"

#include <QApplication>
#include <QLabel>
#include <QSignalSpy>
#include <QTest>
#include <QTreeWidget>

class TestScanNoDevice : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void scanSaysNoScanner();
    void choiceDialogSaysSo();
};

void TestScanNoDevice::scanSaysNoScanner()
{
    TestHome home;
    imaging::ImgScan control;
    bool event = false;
    control.setEventSink([&](int) { event = true; });
    control.put(1, imaging::Variant::text(home.path() + QStringLiteral("/Kopyra.tif")));
    try {
        control.call(102, {});
        QFAIL("a scan without a scanner must fail");
    } catch (const imaging::DispatchError& e) {
        QCOMPARE(e.number(), int(imaging::ImgScan::NoScanner));
        QVERIFY(e.description().startsWith(QStringLiteral("Es wurde kein Scanner gefunden.")));
        QCOMPARE(e.source(), QStringLiteral("ScanLibCtl.ImgScan"));
    }
    QCoreApplication::processEvents();
    QVERIFY(!event);
}

void TestScanNoDevice::choiceDialogSaysSo()
{
    TestHome home;
    imaging::ScannerChoiceDialog dialog(imaging::ScannerChoice::load());
    QSignalSpy done(&dialog, &imaging::ScannerChoiceDialog::searchFinished);
    QVERIFY(done.wait(20000));
    QCOMPARE(dialog.list->topLevelItemCount(), 0);
    QVERIFY(dialog.status->text().contains(QStringLiteral("kein Scanner")));
}

QTEST_MAIN(TestScanNoDevice)
#include "tst_scan_nodevice.moc"

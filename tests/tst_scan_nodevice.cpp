// The scan control when SANE finds no scanner at all (SANE configured without backends),
// and the end of the program when a backend never finishes its own end.
#include "imaging/scan/img_scan.h"
#include "imaging/scan/link/remote_device.h"
#include "imaging/scan/link/scanner_thread.h"
#include "imaging/scan/scanner_choice.h"
#include "test_support.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <QTreeWidget>

#include <cstring>

class TestScanNoDevice : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void scanSaysNoScanner();
    void choiceDialogSaysSo();
    void stuckBackendDoesNotHoldUpTheEnd();
};

void TestScanNoDevice::scanSaysNoScanner()
{
    TestHome home;
    imaging::ImgScan control;
    bool event = false;
    QObject::connect(&control, &imaging::ImgScan::eventRaised, [&] { event = true; });
    control.put(1, imaging::Variant::text(home.path() + QStringLiteral("/Kopyra.tif")));
    QString source;
    const QString error = failureOf([&control] { control.call(102, {}); }, &source);
    QVERIFY2(error.startsWith(QString::number(int(imaging::ErrorNumber::NoScanner)) +
                              QStringLiteral(" Es wurde kein Scanner gefunden.")),
             qPrintable(error));
    QCOMPARE(source, QStringLiteral("ScanLibCtl.ImgScan"));
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

// This program once more, as a program that has used a scanner and ends with status 3 while
// the backend hangs in sane_exit: it ends a few seconds later with that status.
void TestScanNoDevice::stuckBackendDoesNotHoldUpTheEnd()
{
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("SANE_CONFIG_DIR"), QStringLiteral(HANG_CONFIG_DIR));
    environment.insert(QStringLiteral("LD_LIBRARY_PATH"), QStringLiteral(HANG_BACKEND_DIR));
    child.setProcessEnvironment(environment);
    QElapsedTimer took;
    took.start();
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--stuck-backend")});
    QVERIFY2(child.waitForFinished(30000), "the program did not end");
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QCOMPARE(child.exitCode(), 3);
    QVERIFY(took.elapsed() < 15000);
}

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc > 1 && std::strcmp(argv[1], "--stuck-backend") == 0) {
        // SANE started, asked for devices (the stuck backend has none), then the end.
        const auto devices = imaging::scanner::ScannerThread::instance().call(
            [] { return imaging::scanner::listDevices(); });
        return devices.isEmpty() ? 3 : 1;
    }
    TestScanNoDevice test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_scan_nodevice.moc"

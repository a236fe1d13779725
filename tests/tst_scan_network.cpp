// A network scanner: saned on this machine's loopback address serves SANE's test scanner,
// and the scan control reaches it through SANE's net backend only.
#include "imaging/scan/img_scan.h"
#include "imaging/scan/scan_preferences.h"
#include "imaging/scan/scanner_choice.h"
#include "test_home.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDialogButtonBox>
#include <QImageReader>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

namespace {
// The net backend always asks for SANE's own port.
constexpr quint16 SanePort = 6566;
} // namespace

class TestScanNetwork : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void chooseAndScan();

private:
    QProcess m_saned;
};

void TestScanNetwork::initTestCase()
{
    const QString saned = QStandardPaths::findExecutable(QStringLiteral("saned"));
    if (saned.isEmpty())
        QSKIP("saned is not installed");
    QTcpSocket probe;
    probe.connectToHost(QStringLiteral("127.0.0.1"), SanePort);
    if (probe.waitForConnected(500))
        QSKIP("another saned already listens on 127.0.0.1:6566");

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("SANE_CONFIG_DIR"), QStringLiteral(KOPYRA_SANED_CONFIG));
    m_saned.setProcessEnvironment(env);
    m_saned.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_saned.start(saned, {QStringLiteral("-l"), QStringLiteral("-e"), QStringLiteral("-d"),
                          QStringLiteral("0"), QStringLiteral("-b"), QStringLiteral("127.0.0.1"),
                          QStringLiteral("-p"), QString::number(SanePort)});
    QVERIFY(m_saned.waitForStarted());
    QDeadlineTimer deadline(10000);
    bool listening = false;
    while (!listening && !deadline.hasExpired() && m_saned.state() == QProcess::Running) {
        QTcpSocket s;
        s.connectToHost(QStringLiteral("127.0.0.1"), SanePort);
        listening = s.waitForConnected(200);
        if (!listening)
            QTest::qWait(100);
    }
    QVERIFY2(listening, "saned does not listen");
}

void TestScanNetwork::cleanupTestCase()
{
    if (m_saned.state() != QProcess::NotRunning) {
        m_saned.terminate();
        if (!m_saned.waitForFinished(5000))
            m_saned.kill();
    }
}

void TestScanNetwork::chooseAndScan()
{
    TestHome home;
    // Choose the scanner as a user does: "Scanner wählen", the first network device, OK.
    imaging::ImgScan control;
    QString chosen;
    QTimer chooser;
    connect(&chooser, &QTimer::timeout, this, [&] {
        auto* dialog =
            qobject_cast<imaging::ScannerChoiceDialog*>(QApplication::activeModalWidget());
        if (!dialog || dialog->searching() || dialog->list->topLevelItemCount() == 0)
            return;
        chooser.stop();
        dialog->list->setCurrentItem(dialog->list->topLevelItem(0));
        chosen = dialog->list->currentItem()->text(3);
        dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    });
    chooser.start(50);
    control.call(105, {});
    QCOMPARE(chosen, QStringLiteral("net:127.0.0.1:test:0"));
    QCOMPARE(imaging::ScannerChoice::load().name, chosen);

    imaging::ScanPreferences prefs;
    prefs.mode = imaging::ScanPreferences::Mode::Gray;
    prefs.dpi = 100;
    prefs.save();
    const QString page = home.path() + QStringLiteral("/Kopyra.tif");
    bool event = false;
    QObject::connect(&control, &imaging::ImgScan::eventRaised,
                     [&](int position) { event = position == 10; });
    control.put(1, imaging::Variant::text(page));
    control.call(102, {});
    QTRY_VERIFY(event);
    const QImage scanned = QImageReader(page).read();
    QVERIFY(qAbs(scanned.width() - 827) <= 1);
    QVERIFY(qAbs(scanned.height() - 1169) <= 1);
    control.call(103, {});
    QCOMPARE(control.openDeviceName(), QString());
}

QTEST_MAIN(TestScanNetwork)
#include "tst_scan_network.moc"

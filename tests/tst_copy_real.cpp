// One press of the copy button with the real imaging components: SANE's test scanner, the
// page file, the image area and a print through the test cupsd's PDF printer.
#include "imaging/img_scan.h"
#include "imaging/print_settings.h"
#include "imaging/scan_preferences.h"
#include "imaging/scanner_choice.h"
#include "main_window/form1.h"
#include "support/german_ui.h"
#include "support/kopyra_application.h"
#include "support/module1.h"
#include "support/msg_box.h"
#include "test_home.h"

#include <QDateTime>

#include <cups/cups.h>

#include <QDir>
#include <QLabel>
#include <QTest>
#include <QToolButton>

#include <memory>

namespace {

// Until the test cupsd has finished every job, and cups-pdf has written its file.
bool queueIdle()
{
    cups_job_t* jobs = nullptr;
    const int active = cupsGetJobs2(CUPS_HTTP_DEFAULT, &jobs, nullptr, 0, CUPS_WHICHJOBS_ACTIVE);
    cupsFreeJobs(active, jobs);
    return active == 0;
}

} // namespace

class TestCopyReal : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void onePressCopies();
    void answerNoPrintsNothing();
    void jammedScannerReportsOnce();

private:
    QString newPdfSince(const QDateTime& since) const;
    void prepare(bool askBeforePrint, const QString& readStatus);

    std::unique_ptr<TestHome> m_home;
    QStringList m_boxes;
    int m_answer = MsgBox::IdYes;
    QString m_pdfDir;
};

void TestCopyReal::init()
{
    m_pdfDir = qEnvironmentVariable("KOPYRA_TEST_PDF_DIR");
    if (qEnvironmentVariableIsEmpty("CUPS_SERVER") || m_pdfDir.isEmpty())
        QSKIP("no test cupsd (tools/test.sh starts one)");
    QTRY_VERIFY_WITH_TIMEOUT(queueIdle(), 60000);
    QTest::qWait(1100); // file times have whole seconds
    m_home = std::make_unique<TestHome>();
    m_boxes.clear();
    Module1::FirstCopyDone = 0;
    MsgBox::setHandler([this](const MsgBox::Request& r) {
        m_boxes << r.text;
        return r.style == MsgBox::YesNo ? m_answer : MsgBox::IdOk;
    });
}

void TestCopyReal::cleanup()
{
    MsgBox::setHandler({});
    m_home.reset();
}

QString TestCopyReal::newPdfSince(const QDateTime& since) const
{
    const QFileInfoList pdfs =
        QDir(m_pdfDir).entryInfoList({QStringLiteral("*.pdf")}, QDir::Files, QDir::Time);
    return pdfs.isEmpty() || pdfs.first().lastModified() < since ? QString()
                                                                 : pdfs.first().absoluteFilePath();
}

void TestCopyReal::prepare(bool askBeforePrint, const QString& readStatus)
{
    m_home->seedStore(QByteArray("[Kopyra]\nShowSpecificSetup=0\nAskBeforePrint=") +
                      (askBeforePrint ? "1" : "0") + "\n");
    imaging::ScannerChoice{QStringLiteral("test:0"), QString(), QString()}.save();
    imaging::ScanPreferences prefs;
    prefs.mode = imaging::ScanPreferences::Mode::Gray;
    prefs.dpi = 75;
    prefs.save();
    imaging::ImgScan::rememberOptions(QStringLiteral("test:0"),
                                      {{QStringLiteral("read-return-value"), readStatus}});
    imaging::PrintSettings print;
    print.printer = QStringLiteral("KopyraPDF");
    print.save();
}

void TestCopyReal::onePressCopies()
{
    prepare(false, QStringLiteral("Default"));
    Form1::Environment env;
    env.applicationFolder = m_home->path();
    Form1 form(env);
    form.Form_Load();
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    const QDateTime start = QDateTime::currentDateTime().addSecs(-1);
    form.Btn[0]->click();
    QTRY_VERIFY_WITH_TIMEOUT(Module1::FirstCopyDone == -1, 30000);
    QVERIFY2(m_boxes.isEmpty(), qPrintable(m_boxes.join(QLatin1Char('\n'))));
    QVERIFY(QFileInfo(m_home->path() + QStringLiteral("/Kopyra.tif")).size() > 0);
    QTRY_VERIFY_WITH_TIMEOUT(!newPdfSince(start).isEmpty(), 60000);
    QTRY_VERIFY_WITH_TIMEOUT(queueIdle(), 60000);
}

void TestCopyReal::answerNoPrintsNothing()
{
    prepare(true, QStringLiteral("Default"));
    m_answer = MsgBox::IdNo;
    Form1::Environment env;
    env.applicationFolder = m_home->path();
    Form1 form(env);
    form.Form_Load();
    const QDateTime start = QDateTime::currentDateTime().addSecs(-1);
    form.Btn[0]->click();
    QTRY_COMPARE_WITH_TIMEOUT(m_boxes.size(), 1, 30000);
    QCOMPARE(m_boxes.first(), QStringLiteral("Soll die eingescannte Seite jetzt gedruckt werden?"));
    QTest::qWait(3000); // time for a job that should not come
    QVERIFY(newPdfSince(start).isEmpty());
    QCOMPARE(Module1::FirstCopyDone, std::int16_t(0));
}

void TestCopyReal::jammedScannerReportsOnce()
{
    prepare(false, QStringLiteral("SANE_STATUS_JAMMED"));
    Form1::Environment env;
    env.applicationFolder = m_home->path();
    Form1 form(env);
    form.Form_Load();
    const QImage idle = form.PicHolder[0]->pixmap().toImage();
    form.Btn[0]->click();
    QCoreApplication::processEvents();
    // Member 102 returns when the scan is over, so the jam is reported by phase 0.
    QCOMPARE(m_boxes.size(), 1);
    QVERIFY(m_boxes.first().contains(QStringLiteral("Papierstau")));
    QVERIFY(m_boxes.first().endsWith(QStringLiteral("\r\rPhase: 0")));
    QCOMPARE(form.Btn[0]->icon().pixmap(82, 82).toImage(), idle);
    QCOMPARE(Module1::FirstCopyDone, std::int16_t(0));
}

int main(int argc, char** argv)
{
    KopyraApplication app(argc, argv);
    installGermanTranslations(app);
    TestCopyReal test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_copy_real.moc"

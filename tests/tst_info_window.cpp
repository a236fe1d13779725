// The shell launcher and the info window.
#include "info_window/info_form.h"
#include "support/aap.h"
#include "support/pictures.h"
#include "test_support.h"

#include <QDir>
#include <QImageReader>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

const QString Subtitle = QStringLiteral("der handliche Fotokopierer für Windows (V2.0.6)");

// Runs check on the info window while InfoForm::main shows it, then closes it.
void whileShown(InfoForm& form, const std::function<void(InfoWindow&)>& check,
                const QString& title = QStringLiteral("Kopyra"))
{
    QTimer::singleShot(0, [&] {
        auto* w = qobject_cast<InfoWindow*>(form.window());
        QVERIFY(w);
        check(*w);
        if (form.window())
            w->Btn[3]->click();
    });
    QTimer::singleShot(10000, [&] {
        if (form.window())
            form.window()->reject(); // never hang
    });
    form.main(title, Subtitle);
}

} // namespace

class TestInfoWindow : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void shellOpenTargets_data();
    void shellOpenTargets();
    void infoTextTakesTheName();
    void windowAsDesigned();
    void buttonsOpenTheirTargets();
    void escapeDoesNotClose();
    void helpWithoutBrowserSaysWhere();
    void picturesSharpAtTwiceTheScale();
};

void TestInfoWindow::shellOpenTargets_data()
{
    QTest::addColumn<QString>("targetAndUrl"); // the two parted by a space
    QTest::newRow("help file") << "/opt/kopyra/hilfe.htm file:///opt/kopyra/hilfe.htm";
    QTest::newRow("help file in the root folder") << "/hilfe.htm file:///hilfe.htm";
    QTest::newRow("mail") << "mailto:kopyra@tandrelwerk.example mailto:kopyra@tandrelwerk.example";
    QTest::newRow("news page")
        << "www.tandrelwerk.example/new.htm http://www.tandrelwerk.example/new.htm";
    QTest::newRow("registration")
        << "www.tandrelwerk.example/register/ http://www.tandrelwerk.example/register/";
}

void TestInfoWindow::shellOpenTargets()
{
    QFETCH(QString, targetAndUrl);
    const QString target = targetAndUrl.section(QLatin1Char(' '), 0, 0);
    const QString url = targetAndUrl.section(QLatin1Char(' '), 1);
    UrlCatcher catcher;
    AAP::ShellOpen(nullptr, target, 1);
    AAP::OpenHelpFile(nullptr, target);
    QCOMPARE(catcher.urls, (QStringList{url, url}));
}

// A desktop with no program for web pages (no xdg-open, no browser): the help button says
// where the help is instead of doing nothing; a missing help file is not reported.
void TestInfoWindow::helpWithoutBrowserSaysWhere()
{
    QTemporaryDir folder;
    const QString help = folder.filePath(QStringLiteral("hilfe.htm"));
    QVERIFY(QFile(help).open(QIODevice::WriteOnly));
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(folder.path()));
    const auto restored = qScopeGuard([&] { qputenv("PATH", path); });
    const auto told = [] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<QMessageBox*>(w);
                box && box->objectName() == QLatin1String("NoHelpViewer") && box->isVisible())
                return box;
        return static_cast<QMessageBox*>(nullptr);
    };
    AAP::OpenHelpFile(nullptr, folder.filePath(QStringLiteral("fehlt.htm")));
    QVERIFY(!told());
    AAP::OpenHelpFile(nullptr, help);
    QTRY_VERIFY(told());
    QVERIFY2(told()->text().contains(help), qPrintable(told()->text()));
    told()->close();
}

// The program's name stands wherever the text names it, even an empty one.
void TestInfoWindow::infoTextTakesTheName()
{
    for (const QString& title : {QStringLiteral("Kopyra"), QString()}) {
        const QString text = InfoForm::infoText(title, Subtitle);
        QVERIFY2(text.startsWith(title + QStringLiteral(" – ") + Subtitle +
                                 QStringLiteral("\r\r© 1999–2026 Tandrelwerk. \r\r")),
                 qPrintable(text));
        QVERIFY(text.contains(QStringLiteral("\r\r") + title + QStringLiteral(" ist Freeware.")));
        QVERIFY(
            text.contains(QStringLiteral("Wenn Ihnen ") + title + QStringLiteral(" besonders")));
        QVERIFY(text.contains(QStringLiteral("Weiterentwicklung von ") + title +
                              QStringLiteral(" – was")));
        QVERIFY(text.endsWith(QStringLiteral("Web-Site unter www.tandrelwerk.example")));
    }
    InfoForm form;
    QString caption;
    whileShown(
        form, [&](InfoWindow& w) { caption = w.windowTitle(); }, QString());
    QCOMPARE(caption, QStringLiteral("Info über "));
}

// As designed, and so each time: the window is made afresh for every display.
void TestInfoWindow::windowAsDesigned()
{
    InfoForm form;
    for (int display = 0; display < 2; ++display)
        whileShown(form, [](InfoWindow& w) {
            QCOMPARE(w.windowTitle(), QStringLiteral("Info über Kopyra"));
            QCOMPARE(w.minimumSize(), w.maximumSize()); // fixed
            QVERIFY(w.isModal());
            QVERIFY(
                !(w.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
            const QPoint centre = w.screen()->availableGeometry().center();
            QVERIFY((w.geometry().center() - centre).manhattanLength() <= 2);
            // The label shows the carriage returns as line breaks, all of it.
            QCOMPARE(w.Label0->text().count(QLatin1Char('\n')), 12);
            QVERIFY(w.Label0->font().bold());
            QVERIFY(w.Label0->heightForWidth(w.Label0->width()) <= w.Label0->height());
            QVERIFY(w.rect().contains(w.Picture1->geometry()));
            QCOMPARE(unnamedControls(&w), QStringList()); // as a screen reader finds them

            QStringList captions;
            for (int i = 0; i < 4; ++i) {
                captions << w.Btn[i]->text();
                QVERIFY(w.Btn[i]->toolTip().startsWith(QStringLiteral("... ")));
                QVERIFY(w.rect().contains(w.Btn[i]->geometry()));
                if (i > 0)
                    QVERIFY(!w.Btn[i]->geometry().intersects(w.Btn[i - 1]->geometry()));
                QVERIFY(!w.Btn[i]->isDefault() && !w.Btn[i]->autoDefault());
            }
            QCOMPARE(captions.join(QLatin1Char('|')),
                     QStringLiteral("Eine &E-Mail an mich schreiben|Die Seite 'Aktuelles' auf "
                                    "meiner Web-Site öffnen|Zur Registrierung über meine Web-Site "
                                    "gehen|Dieses Fenster &schliessen"));
            w.Btn[0]->setText(QStringLiteral("verändert")); // not to be seen the next time
        });
}

void TestInfoWindow::buttonsOpenTheirTargets()
{
    UrlCatcher catcher;
    InfoForm form;
    whileShown(form, [&catcher](InfoWindow& w) {
        for (int i = 0; i < 3; ++i) { // each opens what its tooltip names
            w.Btn[i]->click();
            QVERIFY(
                catcher.urls.last().endsWith(w.Btn[i]->toolTip().section(QLatin1Char(' '), -1)));
        }
        QVERIFY(w.isVisible()); // the window stays open
    });
    QCOMPARE(catcher.urls,
             (QStringList{QStringLiteral("mailto:kopyra@tandrelwerk.example"),
                          QStringLiteral("http://www.tandrelwerk.example/new.htm"),
                          QStringLiteral("http://www.tandrelwerk.example/register/")}));
}

void TestInfoWindow::escapeDoesNotClose()
{
    InfoForm form;
    bool stillOpen = false;
    whileShown(form, [&](InfoWindow& w) {
        QTest::keyClick(&w, Qt::Key_Escape);
        stillOpen = w.isVisible();
    });
    QVERIFY(stillOpen);
    // The close box closes it.
    QTimer::singleShot(0, [&] { form.window()->close(); });
    form.main(QStringLiteral("Kopyra"), Subtitle);
    QVERIFY(!form.window());
}

// Every picture of the program is also drawn at twice its size, which Qt takes on a screen at
// 200 % instead of blowing the small one up.
void TestInfoWindow::picturesSharpAtTwiceTheScale()
{
    const QStringList pictures = QDir(QStringLiteral(":/pictures"))
                                     .entryList()
                                     .filter(QRegularExpression(QStringLiteral("^[^@]*$")));
    QVERIFY(pictures.size() >= 11);
    for (const QString& name : pictures) {
        const QString path = QStringLiteral(":/pictures/") + name;
        const QPixmap sharp = picture(path, 2);
        QVERIFY2(sharp.size() == QImageReader(path).size() * 2 && sharp.devicePixelRatio() == 2,
                 qPrintable(name));
    }
}

KOPYRA_TEST_MAIN(TestInfoWindow)

#include "tst_info_window.moc"

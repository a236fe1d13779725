#include "info_window/info_form.h"

#include "support/aap.h"
#include "support/centre_window.h"
#include "support/pictures.h"

#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QStyleOptionButton>
#include <QStylePainter>

namespace {

const QString CR = QStringLiteral("\r");
constexpr int TwipsPerPixel = 15;

void place(QWidget* w, int left, int top, int width, int height)
{
    w->setGeometry(left / TwipsPerPixel, top / TwipsPerPixel, width / TwipsPerPixel,
                   height / TwipsPerPixel);
}

// A push button whose caption wraps inside the button, as the designed captions need.
class WrappingButton : public QPushButton {
public:
    WrappingButton(const QString& caption, QWidget* parent)
        : QPushButton(caption, parent)
    {
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QStylePainter p(this);
        QStyleOptionButton option;
        initStyleOption(&option);
        option.text.clear();
        p.drawControl(QStyle::CE_PushButton, option);
        const QRect textArea = rect().adjusted(4, 2, -4, -2);
        p.drawItemText(textArea, Qt::AlignCenter | Qt::TextWordWrap | Qt::TextShowMnemonic,
                       palette(), isEnabled(), text(), QPalette::ButtonText);
    }
};

} // namespace

const QString InfoForm::RightsNotice = QStringLiteral("© 1999–2026 Tandrelwerk. ");
const QString InfoForm::WebSiteHost = QStringLiteral("www.tandrelwerk.example");
const QString InfoForm::MailDomain = QStringLiteral("tandrelwerk.example");

QString InfoForm::supportMailAddress() { return QStringLiteral("kopyra@") + MailDomain; }

QString InfoForm::infoText(const QString& title, const QString& subtitle)
{
    return title + QStringLiteral(" – ") + subtitle + CR + CR + RightsNotice + CR + CR + title +
           QStringLiteral(" ist Freeware. Das Utility kann also beliebig oft eingesetzt und/oder "
                          "weitergegeben werden, sofern dies unentgeltlich geschieht. ") +
           QStringLiteral("Ggf. ist auch eine kommerzielle Verbreitung des Programms möglich, "
                          "dies muss zuvor allerdings mit mir abgesprochen werden.") +
           CR + CR + QStringLiteral("Wenn Ihnen ") + title +
           QStringLiteral(" besonders gut gefällt, so können Sie sich auch gerne bei mir "
                          "registrieren lassen – die Höhe des Registrierungsbetrags können Sie "
                          "dabei selbst(!) festlegen. ") +
           QStringLiteral("Sie erhalten dann") + CR +
           QStringLiteral("  • kostenlose Sonderversionen mit Zusatzfunktionen (soweit "
                          "vorliegend),") +
           CR +
           QStringLiteral("  • Updates direkt an Ihre E-Mail-Adresse am Tag des Erscheinens,") +
           CR +
           QStringLiteral("  • schnellstmöglichen Support per E-Mail bei Fragen oder Problemen") +
           CR +
           QStringLiteral("  • und nicht zuletzt unterstützen Sie durch Ihren finanziellen "
                          "Beitrag auch die Weiterentwicklung von ") +
           title + QStringLiteral(" – was Ihnen im Endeffekt wiederum selbst zugute kommt ...") +
           CR + CR +
           QStringLiteral("Verbesserungsvorschläge sind mir gerne willkommen. Weitere "
                          "interessante Tools/Infos finden Sie auf meiner Web-Site unter ") +
           WebSiteHost;
}

void InfoForm::main(const QString& title, const QString& subtitle)
{
    // A fresh window each time: nothing of an earlier display survives.
    InfoWindow window;
    m_window = &window;
    window.setWindowTitle(QStringLiteral("Info über ") + title);
    window.setInfoText(infoText(title, subtitle));
    window.exec();
    m_window = nullptr;
}

InfoWindow::InfoWindow()
    : QDialog(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint)
{
    setObjectName(QStringLiteral("InfoForm"));
    setWindowTitle(QStringLiteral("Info"));
    loadPictures();
    setWindowIcon(QIcon(QStringLiteral(":/pictures/info_window.ico")));
    setFixedSize(9390 / TwipsPerPixel, 6405 / TwipsPerPixel);
    // The buttons' designed sizes were made for a small dialog font.
    QFont designFont = font();
    designFont.setPointSizeF(7.5);
    setFont(designFont);

    Label0 = new QLabel(QStringLiteral("Label1"), this);
    Label0->setObjectName(QStringLiteral("Label0"));
    QFont labelFont(QStringLiteral("Arial"));
    labelFont.setPointSizeF(9.75);
    labelFont.setBold(true);
    Label0->setFont(labelFont);
    Label0->setWordWrap(true);
    Label0->setTextFormat(Qt::PlainText);
    Label0->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    place(Label0, 1920, 120, 7335, 5415);

    Picture1 = new QLabel(this);
    Picture1->setObjectName(QStringLiteral("Picture1"));
    Picture1->setFrameStyle(QFrame::Box | QFrame::Plain);
    Picture1->setLineWidth(1);
    Picture1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // At the screen's scale: the picture drawn at twice the size where the screen has it.
    Picture1->setPixmap(
        picture(QStringLiteral(":/pictures/circuit_board.jpg"), devicePixelRatioF()));
    place(Picture1, 120, 120, 1635, 6135);

    auto* line1 = new QFrame(this);
    line1->setObjectName(QStringLiteral("Line1"));
    line1->setFrameStyle(QFrame::HLine | QFrame::Sunken);
    line1->setGeometry(1920 / TwipsPerPixel, 5580 / TwipsPerPixel - 1,
                       (9300 - 1920) / TwipsPerPixel, 2);

    const struct {
        const char* caption;
        int left, width;
    } buttons[] = {{"Eine &E-Mail an mich schreiben", 1920, 1455},
                   {"Die Seite 'Aktuelles' auf meiner Web-Site öffnen", 3540, 1995},
                   {"Zur Registrierung über meine Web-Site gehen", 5700, 1995},
                   {"Dieses Fenster &schliessen", 7860, 1455}};
    for (size_t i = 0; i < Btn.size(); ++i) {
        Btn[i] = new WrappingButton(QString::fromUtf8(buttons[i].caption), this);
        Btn[i]->setObjectName(QStringLiteral("Btn%1").arg(i));
        Btn[i]->setAutoDefault(false);
        place(Btn[i], buttons[i].left, 5700, buttons[i].width, 555);
        connect(Btn[i], &QPushButton::clicked, this,
                [this, i] { Btn_Click(static_cast<std::int16_t>(i)); });
    }
    Btn[3]->setToolTip(QStringLiteral("... bringt Sie zurück zum Programm"));
    setTabOrder(Label0, Picture1);
    for (size_t i = 0; i < Btn.size(); ++i)
        setTabOrder(i == 0 ? static_cast<QWidget*>(Picture1) : Btn[i - 1], Btn[i]);

    Form_Load();
}

void InfoWindow::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    centreOnScreen(this);
}

void InfoWindow::setInfoText(const QString& text)
{
    // The text breaks lines with a carriage return alone; the label needs line feeds.
    QString shown = text;
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    Label0->setText(shown);
}

void InfoWindow::Form_Load()
{
    Btn[0]->setToolTip(
        QStringLiteral("... startet Ihr E-Mail-Programm für eine Nachricht an mich unter ") +
        InfoForm::supportMailAddress());
    Btn[1]->setToolTip(QStringLiteral("... startet Ihren Internet-Browser mit dem Ziel ") +
                       InfoForm::WebSiteHost + QStringLiteral("/new.htm"));
    Btn[2]->setToolTip(QStringLiteral("... startet Ihren Internet-Browser mit dem Ziel ") +
                       InfoForm::WebSiteHost + QStringLiteral("/register/"));
}

void InfoWindow::Btn_Click(std::int16_t index)
{
    switch (index) {
    case 0:
        AAP::ShellOpen(this, QStringLiteral("mailto:") + InfoForm::supportMailAddress(), 1);
        return;
    case 1:
        AAP::ShellOpen(this, InfoForm::WebSiteHost + QStringLiteral("/new.htm"), 1);
        return;
    case 2:
        // The address the button's tooltip names.
        AAP::ShellOpen(this, InfoForm::WebSiteHost + QStringLiteral("/register/"), 1);
        return;
    case 3:
        accept();
        return;
    default:
        return;
    }
}

void InfoWindow::keyPressEvent(QKeyEvent* event)
{
    // Only the close button, the close box and the window system close this window.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

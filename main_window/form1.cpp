#include "main_window/form1.h"

#include "dispatch/members.h"

#include "info_window/info_form.h"
#include "main_window/option_check_box.h"
#include "support/aab.h"
#include "support/aam.h"
#include "support/aap.h"
#include "support/centre_window.h"
#include "support/module1.h"
#include "support/msg_box.h"
#include "support/pictures.h"
#include "version.h"

#include <QApplication>
#include <QEvent>
#include <QFile>
#include <QFrame>
#include <QHash>
#include <QKeyEvent>
#include <QLabel>
#include <QShowEvent>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace AdminMember = imaging::AdminMember;
namespace EditMember = imaging::EditMember;
namespace ScanMember = imaging::ScanMember;
using imaging::Variant;

namespace {

const QString Title = QStringLiteral("Kopyra");
const QString Subtitle = QStringLiteral("der handliche Fotokopierer für Windows");

void place(QWidget* w, int left, int top, int width, int height)
{
    w->setGeometry(
        Form1::toPixels(static_cast<float>(left)), Form1::toPixels(static_cast<float>(top)),
        Form1::toPixels(static_cast<float>(width)), Form1::toPixels(static_cast<float>(height)));
}

QToolButton* makeButton(QWidget* parent, const QString& caption, const QString& picture,
                        int pictureSize)
{
    auto* b = new QToolButton(parent);
    b->setText(caption);
    b->setIcon(QIcon(picture));
    b->setIconSize(QSize(pictureSize, pictureSize));
    b->setToolButtonStyle(caption.isEmpty() ? Qt::ToolButtonIconOnly : Qt::ToolButtonTextUnderIcon);
    b->setFocusPolicy(Qt::StrongFocus);
    return b;
}

// Desktop fonts run wider than the one the window was designed for, even at its size: where a
// caption would be clipped, its kind of control gets a smaller font, as long as that stays
// readable (the same for all of them, so that neighbours look alike).
template <typename Control> void fitCaptions(QWidget* window)
{
    const QList<Control*> controls = window->findChildren<Control*>();
    const auto clipped = [&controls] {
        return std::any_of(controls.begin(), controls.end(),
                           [](const Control* c) { return c->sizeHint().width() > c->width(); });
    };
    QFont smaller = window->font();
    while (clipped() && smaller.pointSizeF() > 6) {
        smaller.setPointSizeF(smaller.pointSizeF() - 0.25);
        for (Control* c : controls)
            c->setFont(smaller);
    }
}

} // namespace

int Form1::toPixels(float twips) { return static_cast<int>(std::lround(twips / TwipsPerPixel)); }

float Form1::toTwips(int pixels) { return static_cast<float>(pixels * TwipsPerPixel); }

Form1::Form1()
    : Form1(Environment{})
{
}

Form1::Form1(Environment environment)
    : m_environment(std::move(environment))
    , m_controls(m_environment.controls())
{
    buildDesign();
    // The scanner's own copy button, where the user has switched it on: the copy button's copy.
    connect(&imgScan1(), &imaging::DispatchControl::eventRaised, this, [this](int position) {
        if (position == imaging::ScanButtonEvent)
            copyFromOutside();
    });
}

Form1::~Form1() = default;

void Form1::buildDesign()
{
    loadPictures();
    setObjectName(QStringLiteral("Form1"));
    setWindowIcon(QIcon(QStringLiteral(":/pictures/kopyra.ico")));
    // The designed sizes were made for a small dialog font; a desktop's larger default font
    // would clip the captions.
    QFont designFont = font();
    designFont.setPointSizeF(7.5);
    setFont(designFont);
    resize(toPixels(DesignedClientWidth), toPixels(DesignedClientHeight));

    ButtonFrame = new QFrame(this);
    ButtonFrame->setObjectName(QStringLiteral("ButtonFrame"));
    ButtonFrame->setFrameStyle(QFrame::Box | QFrame::Sunken);
    place(ButtonFrame, 4260, -60, 1935, 6315);

    ExtViewChk = new OptionCheckBox(QStringLiteral("Erweiterte &Ansicht"), ButtonFrame);
    ExtViewChk->setObjectName(QStringLiteral("ExtViewChk"));
    place(ExtViewChk, 120, 2040, 1695, 195);

    SubLayer = new QWidget(ButtonFrame);
    SubLayer->setObjectName(QStringLiteral("SubLayer"));
    place(SubLayer, 120, 2400, 1755, 3855);

    AskBeforePrintChk = new OptionCheckBox(QStringLiteral("Ausdruck &quittieren"), SubLayer);
    AskBeforePrintChk->setObjectName(QStringLiteral("AskBeforePrintChk"));
    place(AskBeforePrintChk, 0, 3000, 1695, 255);
    ShowSpecificSetupChk = new OptionCheckBox(QStringLiteral("Scan-Setup &zeigen"), SubLayer);
    ShowSpecificSetupChk->setObjectName(QStringLiteral("ShowSpecificSetupChk"));
    place(ShowSpecificSetupChk, 0, 3300, 1695, 255);
    ShowSpecificSetupFirstPageChk =
        new OptionCheckBox(QStringLiteral("&Nur beim 1. Mal"), SubLayer);
    ShowSpecificSetupFirstPageChk->setObjectName(QStringLiteral("ShowSpecificSetupFirstPageChk"));
    place(ShowSpecificSetupFirstPageChk, 240, 3600, 1455, 255);
    for (OptionCheckBox* box :
         {ExtViewChk, AskBeforePrintChk, ShowSpecificSetupChk, ShowSpecificSetupFirstPageChk})
        box->setValue(2);

    struct SmallButton {
        int index;
        const char* caption;
        const char* picture;
        int left, top;
    };
    static constexpr SmallButton smallButtons[] = {
        {6, "&Ende", "end", 900, 1920},     {5, "&Info", "info", 0, 1920},
        {4, "&Hilfe", "help", 0, 960},      {1, "&Scanner", "scanner", 0, 0},
        {2, "&Drucker", "printer", 900, 0}, {3, "&Optionen", "options", 900, 960},
    };
    // What each button does, in a word or two, for the mouse pointer resting on it.
    const QHash<int, QString> tips{
        {1, QStringLiteral("Scanner wählen")},
        {2, QStringLiteral("Drucker, Anzahl und Größe der Kopien wählen")},
        {3, QStringLiteral("Scan-Einstellungen: Farbe, Auflösung, Papier")},
        {4, QStringLiteral("Die Hilfe zu Kopyra öffnen")},
        {5, QStringLiteral("Informationen über Kopyra")},
        {6, QStringLiteral("Kopyra beenden")}};
    for (const SmallButton& s : smallButtons) {
        QToolButton* b =
            makeButton(SubLayer, QString::fromUtf8(s.caption),
                       QStringLiteral(":/pictures/%1.ico").arg(QLatin1String(s.picture)), 32);
        b->setObjectName(QStringLiteral("Btn%1").arg(s.index));
        b->setToolTip(tips.value(s.index));
        place(b, s.left, s.top, 840, 900);
        Btn[static_cast<size_t>(s.index)] = b;
    }

    Btn[0] = makeButton(ButtonFrame, QString(), QStringLiteral(":/pictures/copy_idle.gif"), 82);
    Btn[0]->setObjectName(QStringLiteral("Btn0"));
    Btn[0]->setToolTip(QStringLiteral("Kopieren: Seite scannen und drucken"));
    // A picture without a caption: a screen reader says its name, the tooltip as description.
    Btn[0]->setAccessibleName(QStringLiteral("Kopieren"));
    place(Btn[0], 120, 180, 1740, 1740);

    ImgEdit1Frame3D = new QFrame(this);
    ImgEdit1Frame3D->setObjectName(QStringLiteral("ImgEdit1Frame3D"));
    ImgEdit1Frame3D->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    ImgEdit1Frame3D->setLineWidth(2);
    ImgEdit1Frame3D->setBackgroundRole(QPalette::ToolTipBase);
    ImgEdit1Frame3D->setAutoFillBackground(true);
    place(ImgEdit1Frame3D, 120, 120, 4065, 6075);

    ImgEdit1 = new QWidget(ImgEdit1Frame3D);
    ImgEdit1->setObjectName(QStringLiteral("ImgEdit1"));
    place(ImgEdit1, 360, 240, 2355, 2895);
    if (QWidget* view = imgEdit1().createView(ImgEdit1)) {
        auto* layout = new QVBoxLayout(ImgEdit1);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(view);
    }

    const QString holderPictures[] = {QStringLiteral(":/pictures/copy_idle.gif"),
                                      QStringLiteral(":/pictures/copy_busy.gif")};
    const int holderPlaces[][2] = {{6540, 660}, {6600, 2340}};
    for (size_t i = 0; i < PicHolder.size(); ++i) {
        PicHolder[i] = new QLabel(this);
        PicHolder[i]->setObjectName(QStringLiteral("PicHolder%1").arg(i));
        // At the screen's scale: the picture drawn at twice the size where the screen has it.
        PicHolder[i]->setPixmap(picture(holderPictures[i], devicePixelRatioF()));
        place(PicHolder[i], holderPlaces[i][0], holderPlaces[i][1], 1260, 1260);
        PicHolder[i]->hide();
    }

    fitCaptions<OptionCheckBox>(this);
    fitCaptions<QToolButton>(this);

    // Tab order as designed; the frames and panels take no focus here.
    QWidget* const tabOrder[] = {Btn[0],
                                 ExtViewChk,
                                 Btn[1],
                                 Btn[2],
                                 Btn[4],
                                 Btn[3],
                                 Btn[5],
                                 Btn[6],
                                 AskBeforePrintChk,
                                 ShowSpecificSetupChk,
                                 ShowSpecificSetupFirstPageChk};
    for (size_t i = 1; i < std::size(tabOrder); ++i)
        setTabOrder(tabOrder[i - 1], tabOrder[i]);

    for (size_t i = 0; i < Btn.size(); ++i)
        connect(Btn[i], &QToolButton::clicked, this,
                [this, i] { Btn_Click(static_cast<std::int16_t>(i)); });
    // Copy, Scanner and Optionen use the scanner: it gets ready while the button is held down.
    for (QToolButton* button : Btn)
        button->installEventFilter(this);
    for (QToolButton* usesScanner : {Btn[0], Btn[1], Btn[3]})
        connect(usesScanner, &QToolButton::pressed, this, [this] {
            if (m_controls.scan)
                m_controls.scan->expectUse();
        });
    connect(ExtViewChk, &OptionCheckBox::Click, this, &Form1::ExtViewChk_Click);
    connect(AskBeforePrintChk, &OptionCheckBox::Click, this, &Form1::AskBeforePrintChk_Click);
    connect(ShowSpecificSetupChk, &OptionCheckBox::Click, this, &Form1::ShowSpecificSetupChk_Click);
    connect(ShowSpecificSetupFirstPageChk, &OptionCheckBox::Click, this,
            &Form1::ShowSpecificSetupFirstPageChk_Click);
}

void Form1::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (m_centred)
        return;
    // First position: centred on the screen.
    m_centred = true;
    centreOnScreen(this);
}

// Return and Enter press the focused button, as Space does, as on Windows.
bool Form1::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress) {
        const auto* press = static_cast<QKeyEvent*>(event);
        auto* button = qobject_cast<QToolButton*>(watched);
        if (button && (press->key() == Qt::Key_Return || press->key() == Qt::Key_Enter) &&
            (press->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
            if (!press->isAutoRepeat() && button->isEnabled())
                button->animateClick();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void Form1::Form_Load()
{
    using namespace Module1;

    // 1. The sizes the window has now are its minimum from here on.
    DesignWidth = Width();
    DesignHeight = Height();
    DesignFrameWidth = toTwips(ImgEdit1Frame3D->width());
    DesignFrameHeight = toTwips(ImgEdit1Frame3D->height());
    DesignButtonFrameLeft = toTwips(ButtonFrame->x());
    m_frameExtra = frameGeometry().size() - size();

    // 2.
    setWindowTitle(Title + QStringLiteral(" - ") + Subtitle);

    // 3. Installed system-wide the program's folder is not the user's to write in; the page
    // file then lives in the user's cache folder.
    const QString folder = m_environment.applicationFolder.isEmpty()
                               ? AAM::applicationFolder()
                               : m_environment.applicationFolder;
    PageFilePath = AAM::pageFilePath(AAM::pageFileFolder(folder));
    m_copyRun.setPageFile(PageFilePath);

    // 4. The imaging controls, in this order.
    imgEdit1().put(EditMember::ImageFile, Variant::text(PageFilePath));
    imgEdit1().put(EditMember::DisplayQuality, Variant::int32(3));
    imgEdit1().call(EditMember::AssumedPaper, {Variant::int32(210), Variant::int32(300)});
    imgEdit1().call(EditMember::Fit, {Variant::int16(0)});
    try {
        imgEdit1().call(EditMember::Display,
                        {Variant::textRef(&PageFilePath), Variant::missing(), Variant::missing(),
                         Variant::missing(), Variant::missing(), Variant::boolean(false)});
    } catch (const imaging::DispatchError& e) {
        // A page left over from an earlier run that cannot be shown (cut short, another
        // format, a folder of that name) must not keep the program from starting: the image
        // area stays empty and the next copy replaces the page.
        if (!QFile::exists(PageFilePath))
            throw;
        qWarning("Kopyra: die alte Seite %s wird nicht angezeigt: %s", qPrintable(PageFilePath),
                 qPrintable(e.description()));
    }
    imgScan1().put(ScanMember::PageFile, Variant::text(PageFilePath));
    imgScan1().put(ScanMember::FileType, Variant::int32(1));
    imgScan1().put(ScanMember::MultiPage, Variant::boolean(false));
    imgScan1().put(ScanMember::Compression, Variant::int32(1));
    imgScan1().put(ScanMember::PageOption, Variant::int32(0));
    imgAdmin1().put(AdminMember::TestedFile, Variant::text(PageFilePath));

    // 5. The options; each box's click handling stores its value straight back.
    restoreOption(AskBeforePrintChk, QStringLiteral("AskBeforePrint"), 0);
    restoreOption(ExtViewChk, QStringLiteral("ExtView"), 0);
    restoreOption(ShowSpecificSetupChk, QStringLiteral("ShowSpecificSetup"), 1);
    restoreOption(ShowSpecificSetupFirstPageChk, QStringLiteral("ShowSpecificSetupFirstPage"), 0);
}

void Form1::restoreOption(OptionCheckBox* box, const QString& key, std::int16_t defaultValue)
{
    const QString stored = AAB::LoadOption(key, defaultValue);
    bool ok = false;
    std::int16_t value = stored.toShort(&ok);
    if (!ok || value < 0 || value > 2) {
        // A damaged entry would otherwise stop every start for good; the box's click handling
        // below writes the default back, so the store heals.
        qWarning("Kopyra: gespeicherte Option %s=\"%s\" ist ungültig, verwende %d.",
                 qPrintable(key), qPrintable(stored), defaultValue);
        value = defaultValue;
    }
    box->setValue(value);
}

float Form1::Width() const { return toTwips(frameGeometry().width()); }
float Form1::Height() const { return toTwips(frameGeometry().height()); }

void Form1::setWidth(float twips)
{
    resize(toPixels(twips) - (frameGeometry().width() - width()), height());
}

void Form1::setHeight(float twips)
{
    resize(width(), toPixels(twips) - (frameGeometry().height() - height()));
}

int Form1::WindowState() const
{
    if (isMinimized())
        return 1;
    if (isMaximized())
        return 2;
    return 0;
}

void Form1::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    Form_Resize();
}

void Form1::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    // Restoring from minimised lays the window out for its restored size.
    if (event->type() == QEvent::WindowStateChange)
        Form_Resize();
}

void Form1::Form_Resize()
{
    using namespace Module1;
    if (DesignWidth <= 0 || WindowState() == 1)
        return;
    followFrame();
    if (Width() < DesignWidth)
        setWidth(DesignWidth);
    if (Height() < DesignHeight)
        setHeight(DesignHeight);
    const float dW = Width() - DesignWidth;
    const float dH = Height() - DesignHeight;
    ButtonFrame->move(toPixels(DesignButtonFrameLeft + dW), ButtonFrame->y());
    ImgEdit1Frame3D->resize(toPixels(DesignFrameWidth + dW), toPixels(DesignFrameHeight + dH));
    ImgEdit1->setGeometry(ImgEdit1Frame3D->contentsRect());
    imgEdit1().call(EditMember::Fit, {Variant::int16(0)});
}

void Form1::followFrame()
{
    // Window managers add their frame only once the window is on screen, after start-up has
    // read the sizes. The minimum is the outer size at start, so it grows by the frame that
    // arrived; the inner area at start stays the minimum inner area.
    const QSize extra = frameGeometry().size() - size();
    if (extra == m_frameExtra)
        return;
    Module1::DesignWidth += toTwips(extra.width() - m_frameExtra.width());
    Module1::DesignHeight += toTwips(extra.height() - m_frameExtra.height());
    m_frameExtra = extra;
}

QString Form1::appFolder() const
{
    return m_environment.applicationFolder.isEmpty()
               ? AAM::AppFolder()
               : AAM::WithTrailingSeparator(m_environment.applicationFolder);
}

void Form1::bringForward()
{
    if (isMinimized())
        showNormal();
    show();
    raise();
    activateWindow();
}

void Form1::copyFromOutside(const std::function<void(const QString&)>& told)
{
    const auto refused = [this]() -> QString {
        if (m_copyRun.copying())
            return QStringLiteral("Kopyra kopiert gerade.");
        if (QApplication::activeModalWidget())
            return QStringLiteral("In Kopyra ist ein Dialog offen.");
        return {};
    };
    if (const QString why = refused(); !why.isEmpty()) {
        if (told)
            told(why);
        return;
    }
    bringForward();
    // The copy runs its own waits: not inside whoever asked. Whether it begins is decided
    // there, and only then told: a press of the scanner's button may have come first.
    QTimer::singleShot(0, this, [this, told, refused] {
        const QString why = refused();
        if (told)
            told(why);
        if (why.isEmpty())
            Btn_Click(0);
    });
}

void Form1::offerWaitingPages()
{
    if (m_copyRun.copying() || QApplication::activeModalWidget())
        return;
    try {
        imgScan1().call(ScanMember::WaitingPages, {});
    } catch (const imaging::DispatchError& e) {
        msgBox(CopyRun::errorText(e.number(), e.description(), e.source(), 0),
               MsgBox::OkOnly | MsgBox::Critical, Title);
    }
}

void Form1::tell(const QString& text) { imgEdit1().call(EditMember::Hint, {Variant::text(text)}); }

void Form1::Btn_Click(std::int16_t index)
{
    switch (index) {
    case 0:
        m_copyRun.Kopyra(0);
        return;
    case 1:
        // Not while a copy uses the scanner.
        if (!m_copyRun.copying())
            imgScan1().call(ScanMember::ChooseScanner, {});
        return;
    case 2:
        m_copyRun.Kopyra(2);
        return;
    case 3:
        if (!m_copyRun.copying())
            imgScan1().call(ScanMember::Preferences, {});
        return;
    case 4:
        AAP::OpenHelpFile(this, appFolder() + QStringLiteral("hilfe.htm"));
        return;
    case 5: {
        const QString subtitle = Subtitle + QStringLiteral(" (V") +
                                 QString::number(KopyraVersion::Major) + QLatin1Char('.') +
                                 QString::number(KopyraVersion::Minor) + QLatin1Char('.') +
                                 QString::number(KopyraVersion::Revision) + QLatin1Char(')');
        if (!m_infoForm)
            m_infoForm = std::make_unique<InfoForm>();
        m_infoForm->main(Title, subtitle);
        return;
    }
    case 6:
        // At once, and nothing to save: the options are stored as they change, and the page
        // file stays for the next start.
        QCoreApplication::exit(0);
        hide();
        return;
    default:
        return;
    }
}

void Form1::SetCopyBtn(std::int32_t mode)
{
    if (mode < 0 || mode >= static_cast<std::int32_t>(PicHolder.size()))
        throw imaging::DispatchError(
            imaging::ErrorNumber::SubscriptOutOfRange,
            QStringLiteral("Das Bild %1 für den Kopierknopf gibt es nicht.").arg(mode), Title);
    Btn[0]->setIcon(QIcon(PicHolder[static_cast<size_t>(mode)]->pixmap()));
    Btn[0]->repaint();
}

std::int16_t Form1::optionValue(Option option)
{
    switch (option) {
    case Option::ShowSpecificSetup:
        return ShowSpecificSetupChk->Value();
    case Option::ShowSpecificSetupFirstPage:
        return ShowSpecificSetupFirstPageChk->Value();
    case Option::AskBeforePrint:
        return AskBeforePrintChk->Value();
    }
    return 0;
}

std::int32_t Form1::nativeWindowHandle()
{
    // X11 window ids fit; elsewhere a handle that names no window still gets its dialog.
    return static_cast<std::int32_t>(winId());
}

void Form1::deletePageFile(const QString& path)
{
    QFile page(path);
    if (!page.exists())
        return; // nothing left to delete
    if (!page.remove())
        throw imaging::DispatchError(
            imaging::ErrorNumber::FileAccess,
            QStringLiteral("Die alte Seite „%1“ konnte nicht gelöscht werden: %2")
                .arg(path, page.errorString()),
            Title);
    // The view shows no page until the new one comes, never one that is gone (a copy that is
    // cancelled before its scan leaves none).
    QString gone = path;
    imgEdit1().call(EditMember::Display, {Variant::textRef(&gone)});
}

int Form1::msgBox(const QString& text, int style, const QString& title)
{
    return MsgBox::msgBox(this, text, style, title);
}

void Form1::ExtViewChk_Click()
{
    AAB::SaveOption(QStringLiteral("ExtView"), ExtViewChk->Value());
    SubLayer->setVisible(ExtViewChk->Value() != 0);
}

void Form1::AskBeforePrintChk_Click()
{
    AAB::SaveOption(QStringLiteral("AskBeforePrint"), AskBeforePrintChk->Value());
}

void Form1::ShowSpecificSetupChk_Click()
{
    AAB::SaveOption(QStringLiteral("ShowSpecificSetup"), ShowSpecificSetupChk->Value());
}

void Form1::ShowSpecificSetupFirstPageChk_Click()
{
    AAB::SaveOption(QStringLiteral("ShowSpecificSetupFirstPage"),
                    ShowSpecificSetupFirstPageChk->Value());
}

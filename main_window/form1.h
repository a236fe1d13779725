#pragma once

#include "copy_run/copy_run.h"
#include "imaging/controls.h"

#include <QWidget>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>

class OptionCheckBox;
class QFrame;
class QLabel;
class QToolButton;
class InfoForm;

// The main window: the copy button, the view switch, the panel of small buttons and options,
// the image area and the three imaging controls. Positions are designed in twips; at 15 twips
// to a device-independent pixel they are placed absolutely, as designed.
class Form1 : public QWidget, private CopyRunHost {
    Q_OBJECT
public:
    static constexpr int TwipsPerPixel = 15;
    static constexpr int DesignedClientWidth = 6255;
    static constexpr int DesignedClientHeight = 6330;

    struct Environment {
        ImagingControlsFactory controls = makeImagingControls;
        // The folder of the executable; empty: the running program's own.
        QString applicationFolder;
    };

    Form1();
    explicit Form1(Environment environment);
    ~Form1() override;

    // Start-up; runs once before the window is first shown. Failures are not caught here.
    void Form_Load();

    // The designed controls.
    QFrame* ButtonFrame = nullptr;
    OptionCheckBox* ExtViewChk = nullptr;
    QWidget* SubLayer = nullptr;
    OptionCheckBox* AskBeforePrintChk = nullptr;
    OptionCheckBox* ShowSpecificSetupChk = nullptr;
    OptionCheckBox* ShowSpecificSetupFirstPageChk = nullptr;
    std::array<QToolButton*, 7> Btn{};
    QFrame* ImgEdit1Frame3D = nullptr;
    // The site of the edit control: the window places and sizes the control through it.
    QWidget* ImgEdit1 = nullptr;
    std::array<QLabel*, 2> PicHolder{};

    imaging::DispatchControl& imgScan1() { return *m_controls.scan; }
    imaging::DispatchControl& imgEdit1() { return *m_controls.edit; }
    imaging::DispatchControl& imgAdmin1() { return *m_controls.admin; }

    // The info window, once the info button has been pressed.
    InfoForm* infoForm() const { return m_infoForm.get(); }
    // The application folder with its trailing separator.
    QString appFolder() const;

    // The window's outer size in twips, frame and title bar included.
    float Width() const;
    float Height() const;
    void setWidth(float twips);
    void setHeight(float twips);
    // 0 normal, 1 minimised, 2 maximised.
    int WindowState() const;

    // A copy asked for from outside the window (the scanner's own button, `kopyra --kopieren`):
    // the window comes forward and the copy is the copy button's, begun from the event loop.
    // Not begun, as a press is ignored, while a copy runs or a dialog of Kopyra's is open.
    // told hears, once the copy has begun, nothing; else the reason, in German.
    void copyFromOutside(const std::function<void(const QString&)>& told = {});
    // Pages of several originals that a Kopyra left that ended during their copy: offered
    // once the window stands, and copied as a scan's page when the user wants them.
    void offerWaitingPages();
    // Something the user should know, in the line over the page.
    void tell(const QString& text);
    // The window in front of the others, as it was before it was minimised.
    void bringForward();

    static int toPixels(float twips);
    static float toTwips(int pixels);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildDesign();
    void restoreOption(OptionCheckBox* box, const QString& key, std::int16_t defaultValue);

    void Form_Resize();
    void followFrame();
    void Btn_Click(std::int16_t index);

    // The copy run's view of the window.
    void SetCopyBtn(std::int32_t mode) override;
    std::int16_t optionValue(Option option) override;
    std::int32_t nativeWindowHandle() override;
    void deletePageFile(const QString& path) override;
    int msgBox(const QString& text, int style, const QString& title) override;
    void ExtViewChk_Click();
    void AskBeforePrintChk_Click();
    void ShowSpecificSetupChk_Click();
    void ShowSpecificSetupFirstPageChk_Click();

    Environment m_environment;
    ImagingControls m_controls;
    CopyRun m_copyRun{{imgScan1(), imgEdit1(), imgAdmin1()}, *this};
    std::unique_ptr<InfoForm> m_infoForm;
    // Frame and title bar as the platform reported them when the design sizes were taken.
    QSize m_frameExtra;
    bool m_centred = false;
};

#pragma once

#include <QDialog>
#include <QPointer>

#include <array>
#include <cstdint>

class QLabel;
class QPushButton;

// The info window: the program's information text, a picture and four buttons (write a mail,
// two pages of the web site, close). One InfoForm lives for the whole run; each call of main
// builds the window afresh and shows it modally.
class InfoForm {
public:
    // The maker's values.
    static const QString RightsNotice;
    static const QString WebSiteHost;
    static const QString MailDomain;
    static QString supportMailAddress();

    // Fills the window from the title and subtitle and shows it modally; returns when the window
    // has been closed.
    void main(const QString& title, const QString& subtitle);

    // The info text, lines broken by a carriage return alone.
    static QString infoText(const QString& title, const QString& subtitle);

    // The window while it is shown, else nullptr.
    QDialog* window() const { return m_window; }

private:
    QPointer<QDialog> m_window;
};

// The window itself, as designed.
class InfoWindow : public QDialog {
    Q_OBJECT
public:
    InfoWindow();

    QLabel* Label0 = nullptr;
    QLabel* Picture1 = nullptr;
    std::array<QPushButton*, 4> Btn{};

    void setInfoText(const QString& text);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void Form_Load();
    void Btn_Click(std::int16_t index);
};

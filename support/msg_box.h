#pragma once

#include <QString>

#include <functional>

class QWidget;

// Every message box of the program goes through msgBox, so tests can answer them.
namespace MsgBox {

// Styles, combinable: buttons | icon.
constexpr int OkOnly = 0;
constexpr int YesNo = 4;
constexpr int Critical = 16;

// Answers.
constexpr int IdOk = 1;
constexpr int IdYes = 6;
constexpr int IdNo = 7;

struct Request {
    QWidget* parent;
    QString text; // as the program built it, carriage returns and all
    int style;
    QString title;
};

using Handler = std::function<int(const Request&)>;

// Shows a modal box (nested event loop) and returns the answer.
int msgBox(QWidget* parent, const QString& text, int style, const QString& title);

// Replaces the real boxes; an empty handler brings them back.
void setHandler(Handler handler);

// The program's texts break lines with a carriage return alone; a box needs line feeds.
QString displayText(const QString& text);

} // namespace MsgBox

#pragma once

#include <QApplication>

// The application object: catches whatever an event handler lets escape and hands it to the
// program's report of unhandled failures, instead of letting it tear through Qt's event loop.
class KopyraApplication : public QApplication {
    Q_OBJECT
public:
    KopyraApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;
};

#include "imaging/scan/sane/sane_thread.h"
#include "main_window/form1.h"
#include "support/german_ui.h"
#include "support/kopyra_application.h"
#include "support/unhandled_failure.h"

#include <cstdlib>
#include <memory>

int main(int argc, char** argv)
{
    KopyraApplication app(argc, argv);
    installGermanTranslations(app);

    std::unique_ptr<Form1> form;
    try {
        form = std::make_unique<Form1>();
        form->Form_Load();
    } catch (...) {
        UnhandledFailure::report(std::current_exception());
        imaging::sane::SaneThread::setExitStatus(EXIT_FAILURE);
        return EXIT_FAILURE;
    }
    form->show();
    const int status = app.exec();
    imaging::sane::SaneThread::setExitStatus(status);
    return status;
}

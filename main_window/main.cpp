#include "main_window/form1.h"
#include "support/german_ui.h"
#include "support/kopyra_application.h"
#include "support/unhandled_failure.h"

#include <csignal>
#include <cstdlib>
#include <memory>

int main(int argc, char** argv)
{
    // A helper that is gone while Kopyra writes to it is a failed write, not Kopyra's end.
    std::signal(SIGPIPE, SIG_IGN);
    KopyraApplication app(argc, argv);
    installGermanTranslations(app);

    std::unique_ptr<Form1> form;
    try {
        form = std::make_unique<Form1>();
        form->Form_Load();
    } catch (...) {
        UnhandledFailure::report(std::current_exception());
        return EXIT_FAILURE;
    }
    form->show();
    return app.exec();
}

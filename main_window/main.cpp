#include "main_window/form1.h"
#include "main_window/single_instance.h"
#include "support/aab.h"
#include "support/aam.h"
#include "support/german_ui.h"
#include "support/kopyra_application.h"
#include "support/unhandled_failure.h"

#include <QTimer>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>

int main(int argc, char** argv)
{
    // A helper that is gone while Kopyra writes to it is a failed write, not Kopyra's end.
    std::signal(SIGPIPE, SIG_IGN);
    KopyraApplication app(argc, argv);
    installGermanTranslations(app);

    // `kopyra --kopieren` makes one copy, in the Kopyra that runs or in this one.
    const bool copy = app.arguments().contains(QStringLiteral("--kopieren"));
    SingleInstance instance(AAM::AppFolder(), AAB::storeFile());
    const SingleInstance::Outcome outcome =
        instance.handOver(copy ? SingleInstance::Copy : SingleInstance::Show);
    switch (outcome.kind) {
    case SingleInstance::Outcome::Done:
        return EXIT_SUCCESS;
    case SingleInstance::Outcome::NotDone:
        std::fprintf(stderr, "%s\n",
                     qPrintable((copy ? QStringLiteral("Keine Kopie begonnen: ")
                                      : QStringLiteral("Kopyra wurde nicht gestartet: ")) +
                                outcome.why));
        return EXIT_FAILURE;
    case SingleInstance::Outcome::Alone:
        std::fprintf(stderr, "Kopyra: %s\n", qPrintable(outcome.why));
        break;
    case SingleInstance::Outcome::Run:
        break;
    }

    std::unique_ptr<Form1> form;
    try {
        form = std::make_unique<Form1>();
        form->Form_Load();
    } catch (...) {
        UnhandledFailure::report(std::current_exception());
        return EXIT_FAILURE;
    }
    instance.onRequest([&form](const QByteArray& request, const SingleInstance::Reply& reply) {
        if (request == SingleInstance::Copy)
            return form->copyFromOutside(reply);
        form->bringForward();
        reply({});
    });
    form->show();
    if (outcome.kind == SingleInstance::Outcome::Alone)
        form->tell(outcome.why);
    if (copy)
        QTimer::singleShot(0, form.get(), [&form] { form->copyFromOutside(); });
    else
        QTimer::singleShot(0, form.get(), [&form] { form->offerWaitingPages(); });
    return app.exec();
}

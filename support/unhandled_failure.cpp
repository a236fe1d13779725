#include "support/unhandled_failure.h"

#include "dispatch/dispatch_error.h"
#include "support/msg_box.h"

#include <QCoreApplication>

#include <cstdlib>

namespace UnhandledFailure {

namespace {
bool g_reported = false;
const QString CR = QStringLiteral("\r");
} // namespace

QString text(std::exception_ptr failure)
{
    QString what;
    try {
        std::rethrow_exception(failure);
    } catch (const imaging::DispatchError& e) {
        what = QStringLiteral("Laufzeitfehler %1:").arg(e.number()) + CR + CR + e.description() +
               CR + CR + QStringLiteral("Ort: ") + e.source();
    } catch (const std::exception& e) {
        what = QStringLiteral("Unerwarteter Fehler:") + CR + CR + QString::fromLocal8Bit(e.what());
    } catch (...) {
        what = QStringLiteral("Unbekannter Fehler.");
    }
    return what + CR + CR + QStringLiteral("Kopyra wird beendet.");
}

void report(std::exception_ptr failure)
{
    if (g_reported)
        return;
    g_reported = true;
    MsgBox::msgBox(nullptr, text(failure), MsgBox::OkOnly | MsgBox::Critical,
                   QStringLiteral("Kopyra"));
    QCoreApplication::exit(EXIT_FAILURE);
}

bool reported() { return g_reported; }
void resetForTesting() { g_reported = false; }

} // namespace UnhandledFailure

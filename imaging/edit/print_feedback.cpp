#include "imaging/edit/print_feedback.h"

#include "imaging/common/background_work.h"
#include "imaging/common/cups_catalogue.h"
#include "imaging/edit/page_printer.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QGraphicsOpacityEffect>
#include <QHash>
#include <QLabel>
#include <QPropertyAnimation>
#include <QUrl>

#include <cups/cups.h>

#include <memory>

namespace imaging {

namespace {

// Watched jobs end their watch after this long, whatever their state.
constexpr qint64 WatchLimitMs = 30 * 60 * 1000;

const QString NotificationService = QStringLiteral("org.freedesktop.Notifications");

// Whether the session has a message bus: without one, D-Bus would try to start one of its
// own (autolaunch) for a message nobody reads.
bool sessionBusThere()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return qEnvironmentVariableIsSet("DBUS_SESSION_BUS_ADDRESS") ||
           (!runtime.isEmpty() && QFileInfo::exists(runtime + QStringLiteral("/bus")));
}

struct JobState {
    int id = 0;
    ipp_jstate_t state = IPP_JSTATE_PENDING;
};

// What the printer's queue says of it now ("The printer is not responding.", in the
// scheduler's language); empty when all is well or CUPS does not answer.
QString printerMessage(const QString& printer)
{
    ipp_t* response = queueAttributes(printer, {"printer-state-message"});
    const char* text =
        ippGetString(ippFindAttribute(response, "printer-state-message", IPP_TAG_TEXT), 0, nullptr);
    QString message = QString::fromUtf8(text ? text : "").trimmed();
    ippDelete(response);
    return message;
}

} // namespace

PrintFeedback::PrintFeedback(QObject* parent)
    : QObject(parent)
{
    m_fadeAfter.setSingleShot(true);
    connect(&m_fadeAfter, &QTimer::timeout, this, [this] {
        if (!m_line)
            return;
        auto* effect = new QGraphicsOpacityEffect(m_line);
        m_line->setGraphicsEffect(effect);
        auto* fade = new QPropertyAnimation(effect, "opacity", m_line);
        fade->setDuration(FadeMs);
        fade->setStartValue(1.0);
        fade->setEndValue(0.0);
        connect(fade, &QPropertyAnimation::finished, m_line, &QWidget::hide);
        fade->start(QAbstractAnimation::DeleteWhenStopped);
    });
    connect(&m_poll, &QTimer::timeout, this, &PrintFeedback::poll);
}

void PrintFeedback::setView(QWidget* view)
{
    m_view = view;
    view->installEventFilter(this);
    m_line = new QLabel(view);
    m_line->setObjectName(QStringLiteral("FeedbackLine"));
    m_line->setWordWrap(true);
    m_line->setTextFormat(Qt::RichText);
    m_line->setStyleSheet(
        QStringLiteral("QLabel { background: rgba(40, 40, 40, 200); color: white; padding: 4px; }"
                       "QLabel a { color: #9cf; }"));
    connect(m_line, &QLabel::linkActivated, this,
            [](const QString& link) { QDesktopServices::openUrl(QUrl(link)); });
    m_line->hide();
}

QString PrintFeedback::line() const
{
    return m_line && m_line->isVisible() ? m_line->text() : QString();
}

bool PrintFeedback::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_view && event->type() == QEvent::Resize)
        placeLine();
    return QObject::eventFilter(watched, event);
}

void PrintFeedback::placeLine()
{
    if (!m_view || !m_line)
        return;
    const int height = m_line->heightForWidth(m_view->width());
    m_line->setGeometry(0, m_view->height() - height, m_view->width(), height);
}

namespace {
QString withNote(const QString& text, const QString& note)
{
    return note.isEmpty() ? text : text + QStringLiteral(". ") + note;
}
} // namespace

void PrintFeedback::sentToPrinter(const QString& printer, const QList<int>& jobIds, int copies,
                                  int pages, const QString& note)
{
    QString what;
    if (pages <= 1)
        what = copies == 1 ? QStringLiteral("1 Seite") : QStringLiteral("%1 Kopien").arg(copies);
    else if (copies == 1)
        what = QStringLiteral("%1 Seiten").arg(pages);
    else
        what = QStringLiteral("%1 Kopien zu je %2 Seiten").arg(copies).arg(pages);
    tell(withNote(QStringLiteral("Kopie an „%1“ gesendet (%2)").arg(printer, what), note));
    for (const int id : jobIds) {
        if (id <= 0)
            continue;
        Watched job;
        job.printer = printer;
        job.id = id;
        job.since.start();
        m_jobs.append(job);
    }
    if (!m_jobs.isEmpty() && !m_poll.isActive())
        m_poll.start(PollMs);
}

void PrintFeedback::savedAsPdf(const QString& file, const QString& note)
{
    const QFileInfo pdf(file);
    const QString saved = QStringLiteral("Kein Drucker eingerichtet: Die Kopie ist als „%1“ im "
                                         "Ordner „%2“ gespeichert.")
                              .arg(pdf.fileName(), QDir::toNativeSeparators(pdf.absolutePath()));
    tell(note.isEmpty() ? saved : saved + QLatin1Char(' ') + note,
         QUrl::fromLocalFile(pdf.absolutePath()).toString());
}

void PrintFeedback::hint(const QString& text) { tell(text); }

void PrintFeedback::tell(const QString& text, const QString& folderLink)
{
    qInfo("Kopyra: %s", qPrintable(text));
    notify(text);
    if (!m_line)
        return;
    QString shown = text.toHtmlEscaped();
    if (!folderLink.isEmpty())
        shown +=
            QStringLiteral(" <a href=\"%1\">Ordner öffnen</a>").arg(folderLink.toHtmlEscaped());
    m_line->setGraphicsEffect(nullptr);
    m_line->setText(shown);
    placeLine();
    m_line->show();
    m_line->raise();
    m_fadeAfter.start(LineMs);
}

void PrintFeedback::notify(const QString& text)
{
    if (!sessionBusThere())
        return;
    // Asked without waiting: a notification service that is slow must not hold the window.
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface() ||
        !bus.interface()->isServiceRegistered(NotificationService))
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(
        NotificationService, QStringLiteral("/org/freedesktop/Notifications"), NotificationService,
        QStringLiteral("Notify"));
    call << QStringLiteral("Kopyra") << 0u << QStringLiteral("kopyra") << QStringLiteral("Kopyra")
         << text << QStringList() << QVariantMap() << LineMs;
    bus.asyncCall(call);
}

void PrintFeedback::poll()
{
    if (m_polling)
        return;
    if (m_jobs.isEmpty()) {
        m_poll.stop();
        return;
    }
    m_polling = true;
    QStringList printers, waiting; // waiting: with a job waiting longer than the patience
    for (const Watched& job : std::as_const(m_jobs)) {
        if (!printers.contains(job.printer))
            printers.append(job.printer);
        if (!job.told && job.since.elapsed() >= m_patienceMs && !waiting.contains(job.printer))
            waiting.append(job.printer);
    }
    auto states = std::make_shared<QList<std::pair<QString, JobState>>>();
    auto messages = std::make_shared<QHash<QString, QString>>();
    runThen(
        this,
        [printers, waiting, states, messages] {
            for (const QString& printer : printers) {
                cups_job_t* jobs = nullptr;
                const int n = cupsGetJobs2(CUPS_HTTP_DEFAULT, &jobs, printer.toUtf8().constData(),
                                           0, CUPS_WHICHJOBS_ALL);
                for (int i = 0; i < n; ++i)
                    states->append({printer, {jobs[i].id, jobs[i].state}});
                cupsFreeJobs(n, jobs);
            }
            for (const QString& printer : waiting)
                messages->insert(printer, printerMessage(printer));
        },
        [this, states, messages](std::exception_ptr) {
            m_polling = false;
            for (auto it = m_jobs.begin(); it != m_jobs.end();) {
                ipp_jstate_t state = IPP_JSTATE_PENDING;
                for (const auto& [printer, job] : std::as_const(*states))
                    if (printer == it->printer && job.id == it->id)
                        state = job.state;
                bool done = it->since.elapsed() > WatchLimitMs;
                switch (state) {
                case IPP_JSTATE_COMPLETED:
                    done = true;
                    break;
                case IPP_JSTATE_CANCELED:
                    tell(QStringLiteral("Der Druckauftrag an „%1“ wurde abgebrochen; die Kopie "
                                        "wird nicht gedruckt.")
                             .arg(it->printer));
                    done = true;
                    break;
                case IPP_JSTATE_ABORTED:
                    tell(QStringLiteral("Der Druckauftrag an „%1“ ist fehlgeschlagen; die Kopie "
                                        "wird nicht gedruckt. Bitte prüfen Sie den Drucker.")
                             .arg(it->printer));
                    done = true;
                    break;
                case IPP_JSTATE_STOPPED:
                case IPP_JSTATE_HELD:
                    if (!it->told)
                        tell(QStringLiteral("Der Druckauftrag an „%1“ ist angehalten. Bitte prüfen "
                                            "Sie den Drucker (Papier, Toner, Klappe).")
                                 .arg(it->printer));
                    it->told = true;
                    break;
                default:
                    // Still waiting: a printer that is busy says nothing, one that cannot be
                    // reached says so, and the user learns it once.
                    if (!it->told && !messages->value(it->printer).isEmpty()) {
                        tell(QStringLiteral("Die Kopie wartet seit %1 Sekunden auf den Drucker "
                                            "„%2“, der meldet: %3 Bitte prüfen Sie, ob er "
                                            "eingeschaltet und erreichbar ist; der Auftrag "
                                            "bleibt in der Warteschlange.")
                                 .arg(it->since.elapsed() / 1000)
                                 .arg(it->printer, cupsQuoted(messages->value(it->printer))));
                        it->told = true;
                    }
                    break;
                }
                it = done ? m_jobs.erase(it) : std::next(it);
            }
        });
}

} // namespace imaging

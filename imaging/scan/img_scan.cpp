#include "imaging/scan/img_scan.h"

#include "imaging/common/imaging_settings.h"
#include "imaging/page_file/growing_stack.h"
#include "imaging/scan/book_copy.h"
#include "imaging/scan/button_watch.h"
#include "imaging/scan/id_card.h"
#include "imaging/scan/link/remote_device.h"
#include "imaging/scan/link/scanner_helper.h"
#include "imaging/scan/link/scanner_thread.h"
#include "imaging/scan/original_stack.h"
#include "imaging/scan/scan_option_dialog.h"
#include "imaging/scan/scan_preferences.h"
#include "imaging/scan/scanner_choice.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QMessageBox>
#include <QPointer>
#include <QProgressDialog>
#include <QTimer>
#include <QUrl>

#include <utility>

namespace imaging {

namespace {

QString settingsGroup(const QString& device)
{
    // Device names hold ':' and '/', which a settings key must not.
    return QStringLiteral("DeviceOptions/") +
           QString::fromLatin1(QUrl::toPercentEncoding(device).replace('%', '_'));
}

} // namespace

ImgScan::ImgScan()
    : m_device(std::make_shared<scanner::Device>())
    , m_watch(std::make_unique<ButtonWatch>(
          m_device, [this] { return !busy() && !QApplication::activeModalWidget(); }))
{
    m_watch->pressed = [this] { raiseEvent(ScanButtonEvent); };
    m_watch->failed = [this](const QString& why) { tellWatchFailed(why); };
    m_watch->setOn(ScanPreferences::load().startButton);
}

ImgScan::~ImgScan()
{
    // The device is closed on the scanner thread; without that thread, nothing is open.
    if (scanner::ScannerThread::started())
        scanner::ScannerThread::instance().post([device = m_device] { device->close(); });
}

QString ImgScan::progId() const { return scanProgId(); }

void ImgScan::requireValue(std::int32_t member, std::int32_t value, std::int32_t supported) const
{
    if (value != supported)
        fail(ErrorNumber::ScanUnsupportedValue,
             QStringLiteral("Der Wert %1 für Element %2 wird nicht unterstützt "
                            "(möglich ist nur %3).")
                 .arg(value)
                 .arg(member)
                 .arg(supported));
}

void ImgScan::put(std::int32_t member, const Variant& value)
{
    switch (member) {
    case ScanMember::PageFile:
        m_pageFile = textArg(member, value);
        return;
    case ScanMember::PageOption:
        requireValue(member, intArg(member, value), 0);
        return;
    case ScanMember::FileType:
        requireValue(member, intArg(member, value), 1);
        return;
    case ScanMember::MultiPage:
        requireValue(member, boolArg(member, value) ? -1 : 0, 0);
        return;
    case ScanMember::Compression:
        requireValue(member, intArg(member, value), 1);
        return;
    case ScanMember::ShowSetup:
        m_showSetup = boolArg(member, value);
        return;
    default:
        unknownMember(AccessKind::Put, member);
    }
}

Variant ImgScan::call(std::int32_t member, const QList<Variant>& args)
{
    switch (member) {
    case ScanMember::Scan:
        requireArgCount(member, args, 0, 0);
        scan();
        return {};
    case ScanMember::FinishScan:
        requireArgCount(member, args, 0, 0);
        // The feeder may still be scanning the stack: closed once it has ended.
        if (GrowingStack::of(m_pageFile))
            scanner::ScannerThread::instance().post([device = m_device] { device->close(); });
        else
            closeDevice();
        return {};
    case ScanMember::ChooseScanner: {
        requireArgCount(member, args, 0, 0);
        ScannerChoiceDialog dialog(ScannerChoice::load(), dialogParent());
        if (dialog.exec() == QDialog::Accepted) {
            const ScannerChoice chosen = dialog.choice();
            chosen.save();
            // A stack still being scanned keeps its scanner: closed once it has ended.
            if (!busy() && chosen.name != openDeviceName())
                closeDevice();
        }
        return {};
    }
    case ScanMember::WaitingPages:
        requireArgCount(member, args, 0, 0);
        if (!m_pageFile.isEmpty() && !busy() &&
            offerWaitingPages(m_pageFile, dialogParent()) == LeftPages::Copied)
            QTimer::singleShot(0, this, [this] { raiseEvent(ScanCompletedEvent); });
        return {};
    case ScanMember::Preferences: {
        requireArgCount(member, args, 0, 0);
        ScanPreferencesDialog dialog(ScanPreferences::load(), dialogParent());
        showAbilities(dialog);
        if (dialog.exec() == QDialog::Accepted) {
            const ScanPreferences chosen = dialog.preferences();
            chosen.save();
            m_watch->setOn(chosen.startButton);
            m_watch->resume();
        }
        return {};
    }
    default:
        unknownMember(AccessKind::Call, member);
    }
}

// The helper and SANE take about 10 ms to start, a press of a button lasts about 100 ms: the
// first scan need not wait for them.
void ImgScan::expectUse()
{
    scanner::ScannerThread::instance().post([] { scanner::ScannerHelper::instance().prepare(); });
}

Variant ImgScan::read(std::int32_t member)
{
    switch (member) {
    case ScanMember::PageFile:
        return Variant::text(m_pageFile);
    case ScanMember::ShowSetup:
        return Variant::boolean(m_showSetup);
    default:
        unknownMember(AccessKind::Read, member);
    }
}

bool ImgScan::busy() const { return m_busy || GrowingStack::of(m_pageFile); }

QWidget* ImgScan::dialogParent() const
{
    return m_dialogParent ? m_dialogParent : QApplication::activeWindow();
}

QString ImgScan::openDeviceName() const
{
    auto device = m_device;
    return scanner::ScannerThread::instance().call([device] { return device->name(); });
}

QVariantMap ImgScan::rememberedOptions(const QString& device)
{
    return ImagingSettings().section(settingsGroup(device));
}

void ImgScan::rememberOptions(const QString& device, const QVariantMap& values)
{
    ImagingSettings().replaceSection(settingsGroup(device), values);
}

void ImgScan::openChosenDevice()
{
    // Runs on the scanner thread. Open already (the scanner's buttons are being watched), it
    // is set up all the same.
    const ScannerChoice choice = ScannerChoice::load();
    if (!m_device->isOpen() && !choice.name.isEmpty()) {
        try {
            m_device->open(choice.name);
        } catch (const DispatchError& e) {
            // Gone or renamed (a re-plugged USB scanner): look for it below. A helper that has
            // had a device open may hold a connection that is dead by now (a network scanner
            // restarted meanwhile): a fresh one tries once more, and searches if need be. A
            // driver that crashed on it has taken its helper along: the search below runs in a
            // fresh one already.
            auto& helper = scanner::ScannerHelper::instance();
            if (e.number() != ErrorNumber::ScannerNotAnswering && helper.hasOpenedDevice()) {
                helper.stop();
                try {
                    m_device->open(choice.name);
                } catch (const DispatchError&) {
                }
            }
        }
    }
    if (!m_device->isOpen()) {
        const QList<sane::DeviceInfo> devices = scanner::listDevices();
        const sane::DeviceInfo* found = choice.pick(devices);
        if (!found)
            throw DispatchError(ErrorNumber::NoScanner,
                                QStringLiteral("Es wurde kein Scanner gefunden. Bitte prüfen Sie, "
                                               "ob der Scanner eingeschaltet und angeschlossen "
                                               "ist, und wählen Sie ihn unter „Erweiterte "
                                               "Ansicht“ → „Scanner“ aus."),
                                progId());
        m_device->open(found->name);
    }
    // A device that cannot be set up so (no feeder, say) is not left open half set up: the
    // next scan sets it up afresh, with what the user changed meanwhile.
    try {
        m_treatment = m_device->setUp(ScanPreferences::load(), rememberedOptions(m_device->name()));
    } catch (...) {
        m_device->close();
        throw;
    }
}

// What the chosen scanner can do is asked while the dialog is open, on the scanner thread: a
// network scanner may take seconds to answer, and the dialog need not wait. A device that is
// not open is opened for the question and closed again; one that cannot be asked leaves every
// choice as it is.
void ImgScan::showAbilities(ScanPreferencesDialog& dialog)
{
    const QString chosen = ScannerChoice::load().name;
    if (chosen.isEmpty())
        return;
    QPointer<ScanPreferencesDialog> shown(&dialog);
    scanner::ScannerThread::instance().post([device = m_device, chosen, shown] {
        DeviceAbilities abilities;
        try {
            const bool wasOpen = device->isOpen();
            if (!wasOpen)
                device->open(chosen);
            abilities = DeviceAbilities::of(*device);
            if (!wasOpen)
                device->close();
        } catch (const DispatchError&) {
            return;
        }
        QMetaObject::invokeMethod(qApp, [shown, abilities] {
            if (shown)
                shown->showAbilities(abilities);
        });
    });
}

// Told once, without stopping anything: the window keeps going, and a copy is still a click
// away.
void ImgScan::tellWatchFailed(const QString& why)
{
    auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Kopyra"),
                                QStringLiteral("Die Taste am Scanner wird nicht mehr abgefragt: "
                                               "%1 Nach der nächsten Kopie fragt Kopyra sie "
                                               "wieder ab.")
                                    .arg(why),
                                QMessageBox::Ok, dialogParent());
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    qInfo("Kopyra: Meldung: %s", qPrintable(box->text()));
    box->show();
}

void ImgScan::closeDevice()
{
    auto device = m_device;
    scanner::ScannerThread::instance().call([device] { device->close(); });
}

void ImgScan::scan()
{
    if (busy())
        fail(ErrorNumber::ScannerBusy,
             QStringLiteral("Der Scanner ist noch mit dem vorigen Scan beschäftigt."));
    if (m_pageFile.isEmpty())
        fail(ErrorNumber::NoPageFile,
             QStringLiteral("Es ist keine Datei für die gescannte Seite angegeben."));
    m_busy = true;
    m_watch->copyBegins();
    struct NotBusy {
        bool& busy;
        ~NotBusy() { busy = false; }
    } notBusy{m_busy};

    {
        // Opening can take a while (network scanners); the user sees why.
        QProgressDialog wait(QStringLiteral("Der Scanner wird vorbereitet …"), QString(), 0, 0,
                             dialogParent());
        wait.setWindowTitle(QStringLiteral("Scannen"));
        wait.setWindowModality(Qt::ApplicationModal);
        wait.setMinimumDuration(500);
        scanner::ScannerThread::instance().call([this] { openChosenDevice(); });
    }
    try {
        if (m_showSetup && !runSetupDialog())
            return;
        const auto scanInto = [this](const QString& file) { return runScanWithProgress(file); };
        // A page of several originals that failed (a jam, a helper that ended) may be scanned
        // again: the device is then opened afresh first, as for a new copy. So it is when the
        // helper ended while the user laid the next original: no scan was under way, nothing
        // to tell.
        bool reopen = false;
        const auto scanToWait = [this, &reopen](const QString& file) {
            scanner::ScannerThread::instance().call([this, &reopen] {
                if (std::exchange(reopen, false) ||
                    scanner::ScannerHelper::instance().endedMeanwhile())
                    openChosenDevice();
            });
            try {
                return runScanWithProgress(file, true);
            } catch (const DispatchError&) {
                closeDevice();
                reopen = true;
                throw;
            }
        };
        bool scanned = false;
        switch (ScanPreferences::load().source) {
        case ScanPreferences::Source::IdCard:
            scanned = scanIdCard(m_pageFile, dialogParent(), scanInto);
            break;
        case ScanPreferences::Source::FlatbedPages:
            scanned = scanFlatbedPages(m_pageFile, dialogParent(), scanToWait);
            break;
        case ScanPreferences::Source::FeederBacksAfter:
            scanned = scanBacksAfterFronts(m_pageFile, dialogParent(), scanToWait);
            break;
        case ScanPreferences::Source::Book:
            scanned = scanBook(m_pageFile, dialogParent(), scanInto);
            break;
        default:
            scanned = runScanWithProgress(m_pageFile, false, true);
        }
        if (!scanned) {
            // A backend may keep a cancelled scan's state (the next colour of a three-pass
            // scan, say): the next scan starts with the device opened afresh. Not waited for:
            // the helper may still be ending the scan.
            scanner::ScannerThread::instance().post([device = m_device] { device->close(); });
            return;
        }
    } catch (...) {
        // After a jam or a lost connection a fresh start is what the device needs, and the
        // next scan picks up anything the user changed meanwhile.
        closeDevice();
        throw;
    }
    // The page file is complete; tell the program once this call has returned (and only if
    // the control still exists then).
    QTimer::singleShot(0, this, [this] { raiseEvent(ScanCompletedEvent); });
}

bool ImgScan::runSetupDialog()
{
    const QString name = openDeviceName();
    ScanOptionDialog dialog(*m_device, name, dialogParent());
    if (dialog.exec() != QDialog::Accepted)
        return false;
    rememberOptions(name, dialog.values());
    return true;
}

bool ImgScan::runScanWithProgress(const QString& pageFile, bool compressed, bool early)
{
    auto progress = std::make_shared<scanner::ScanProgress>();
    auto device = m_device;
    const QString page = pageFile;

    // From the feeder, the copy goes on once the first page is complete (see GrowingStack):
    // the rest of the stack is scanned meanwhile, and the print takes each sheet as it comes.
    std::shared_ptr<GrowingStack> stack;
    if (early) {
        stack = std::make_shared<GrowingStack>(page);
        stack->onCancel([progress] { progress->cancelled = true; });
        progress->pagesIn = [stack](int pages, const QString& file) {
            stack->pagesIn(pages, file);
        };
    }
    // Who ends the scan: the wait here, or, once the copy has gone on without it, the scan
    // itself.
    enum : int { Scanning, Released, Over };
    struct Run {
        std::atomic_int state{Scanning};
        bool completed = false;
        std::exception_ptr failure;
    };
    auto run = std::make_shared<Run>();

    QProgressDialog dialog(QStringLiteral("Die Seite wird gescannt …"), QStringLiteral("Abbrechen"),
                           0, 100, dialogParent());
    dialog.setWindowTitle(QStringLiteral("Scannen"));
    dialog.setWindowModality(Qt::ApplicationModal);
    dialog.setAutoClose(false);
    dialog.setAutoReset(false);
    dialog.setMinimumDuration(0);
    dialog.setValue(0);
    // The scanner thread passes the cancel on to the helper, and ends the helper if its
    // backend does not stop.
    QObject::connect(&dialog, &QProgressDialog::canceled, &dialog,
                     [progress] { progress->cancelled = true; });
    QEventLoop loop;
    // Throttled: a look at the counters ten times a second, never a signal per read.
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &dialog, [&dialog, &loop, progress, stack, run] {
        if (stack && stack->state().pages > 0 && !progress->cancelled) {
            int scanning = Scanning;
            if (run->state.compare_exchange_strong(scanning, Released)) {
                loop.quit();
                return;
            }
        }
        if (progress->feeder)
            dialog.setLabelText(QStringLiteral("Seite %1 wird gescannt …").arg(progress->page));
        const qint64 total = progress->total;
        if (total <= 0) {
            dialog.setRange(0, 0);
        } else {
            dialog.setRange(0, 100);
            dialog.setValue(static_cast<int>(100 * progress->done / total));
        }
    });
    poll.start(100);

    QPointer<QEventLoop> waiting(&loop);
    scanner::ScannerThread::instance().post([=, treatment = m_treatment]() mutable {
        try {
            // From the feeder, the whole stack: as the preferences or the set-up dialog
            // chose.
            treatment.allPages = ScanPreferences::feedsPages(*device);
            treatment.compressed = compressed;
            progress->feeder = treatment.allPages;
            if (!treatment.allPages)
                progress->pagesIn = nullptr;
            run->completed = device->scan(page, treatment, *progress);
        } catch (const DispatchError& e) {
            run->failure =
                std::make_exception_ptr(DispatchError(e.number(), e.description(), scanProgId()));
        } catch (...) {
            run->failure = std::current_exception();
        }
        int scanning = Scanning;
        if (!run->state.compare_exchange_strong(scanning, Over)) {
            // The copy has gone on with the first pages: the device is left as a failed or
            // cancelled scan leaves it, and the stack tells the rest.
            if (!run->completed || run->failure)
                device->close();
            stack->end(run->completed, run->failure);
            return;
        }
        if (stack)
            stack->end(run->completed, run->failure);
        QMetaObject::invokeMethod(
            qApp,
            [waiting] {
                if (waiting)
                    waiting->quit();
            },
            Qt::QueuedConnection);
    });
    while (run->state == Scanning)
        loop.exec();
    if (run->state == Released) {
        GrowingStack::publish(stack);
        return true;
    }
    if (run->failure)
        std::rethrow_exception(run->failure);
    return run->completed;
}

} // namespace imaging

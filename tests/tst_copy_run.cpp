// The copy run against the recording fake: the member sequence of each phase, the set-up
// decision, and how the run reports a failure and goes on.
#include "copy_run/copy_run.h"
#include "recording_control.h"
#include "support/module1.h"
#include "support/msg_box.h"

#include <QHash>

#include <QTest>
#include <algorithm>

using imaging::Variant;
using Option = CopyRunHost::Option;

namespace {

const QString P = QStringLiteral("/seiten/Kopyra.tif");
const QString Fail = QStringLiteral("Fehler im Schritt");
constexpr std::int32_t FailNumber = -2147024891;
const QString FailSource = QStringLiteral("Testquelle");

// The option boxes as the log names them.
const QHash<Option, QString> OptionNames{
    {Option::ShowSpecificSetup, QStringLiteral("ShowSpecificSetupChk")},
    {Option::ShowSpecificSetupFirstPage, QStringLiteral("ShowSpecificSetupFirstPageChk")},
    {Option::AskBeforePrint, QStringLiteral("AskBeforePrintChk")}};

// The main window as the copy run sees it; every operation is noted in the shared log and
// any line of the log can be made to fail.
class FakeHost : public CopyRunHost {
public:
    FakeHost()
        : scan(QStringLiteral("ImgScan1"), log)
        , edit(QStringLiteral("ImgEdit1"), log)
        , admin(QStringLiteral("ImgAdmin1"), log)
    {
        admin.setResult(114, Variant::boolean(true));
        admin.setResult(29, Variant::int32(1));
        admin.setResult(28, Variant::int32(0));
        admin.setResult(16, Variant::int32(0));
        run.setPageFile(P);
    }

    void failLine(const QString& line)
    {
        m_failing = line;
        for (RecordingControl* c : {&scan, &edit, &admin})
            c->failWhen([line](const RecordedAccess& a) { return a.describe() == line; },
                        FailNumber, Fail, FailSource);
    }

    std::int16_t optionValue(Option o) override
    {
        step(QStringLiteral("read ") + OptionNames.value(o));
        return options.value(o);
    }
    void SetCopyBtn(std::int32_t mode) override { step(QStringLiteral("SetCopyBtn %1").arg(mode)); }
    std::int32_t nativeWindowHandle() override
    {
        step(QStringLiteral("handle"));
        return 4711;
    }
    void deletePageFile(const QString& path) override { step(QStringLiteral("delete ") + path); }
    int msgBox(const QString& text, int style, const QString& title) override
    {
        if (title != QStringLiteral("Kopyra"))
            log.note(QStringLiteral("box with title ") + title);
        step(QStringLiteral("box %1: ").arg(style) + text);
        return style == MsgBox::YesNo ? answer : MsgBox::IdOk;
    }

    RecordingLog log;
    RecordingControl scan, edit, admin;
    CopyRun run{{scan, edit, admin}, *this};
    QHash<Option, std::int16_t> options{{Option::ShowSpecificSetup, 1},
                                        {Option::ShowSpecificSetupFirstPage, 1},
                                        {Option::AskBeforePrint, 1}};
    int answer = MsgBox::IdYes;

private:
    void step(const QString& line)
    {
        log.note(line);
        if (line == m_failing)
            throw imaging::DispatchError(FailNumber, Fail, FailSource);
    }
    QString m_failing;
};

QString errorBox(int phase)
{
    return QStringLiteral("box 16: Es kam zu folgendem Problem:\r\r%1 (%2)\r\rOrt: %3\r\rPhase: %4")
        .arg(Fail, QString::number(FailNumber), FailSource, QString::number(phase));
}

const QString Question =
    QStringLiteral("box 4: Soll die eingescannte Seite jetzt gedruckt werden?");

// Each phase's steps as they appear in the log.
namespace Step {
const QString Busy = QStringLiteral("SetCopyBtn 1");
const QString SetupOn = QStringLiteral("ImgScan1 put 16 (BOOL:-1)");
const QString ReadSetup = QStringLiteral("read ShowSpecificSetupChk");
const QString ReadFirst = QStringLiteral("read ShowSpecificSetupFirstPageChk");
const QString SetupOff = QStringLiteral("ImgScan1 put 16 (BOOL:0)");
const QString PageForAdmin = QStringLiteral("ImgAdmin1 put 4 (BSTR:%1)").arg(P);
const QString Exists = QStringLiteral("ImgAdmin1 call 114 (I4:0)");
const QString Delete = QStringLiteral("delete ") + P;
const QString Scan = QStringLiteral("ImgScan1 call 102 ()");
const QString Idle = QStringLiteral("SetCopyBtn 0");
const QString Finish = QStringLiteral("ImgScan1 call 103 ()");
const QString Show =
    QStringLiteral("ImgEdit1 call 343 (BYREF BSTR:%1, MISSING, MISSING, MISSING, MISSING, BOOL:0)")
        .arg(P);
const QString Fit = QStringLiteral("ImgEdit1 call 352 (I2:0)");
const QString Refresh = QStringLiteral("ImgEdit1 call 301 ()");
const QString ReadAsk = QStringLiteral("read AskBeforePrintChk");
const QString Read29 = QStringLiteral("ImgAdmin1 read 29");
const QString Read28 = QStringLiteral("ImgAdmin1 read 28");
const QString Read16 = QStringLiteral("ImgAdmin1 read 16");
const QString Print = QStringLiteral("ImgEdit1 call 351 (I4:1, I4:0, I4:0, BOOL:0)");
const QString Handle = QStringLiteral("handle");
const QString PrintDialog = QStringLiteral("ImgAdmin1 call 104 (I4:4711)");
} // namespace Step

} // namespace

class TestCopyRun : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void setupDialogDecision_data();
    void setupDialogDecision();
    void answerNoPrintsNothing();
    void otherPhasesDoNothing();
    void failureGoesOnWithNextStep_data();
    void failureGoesOnWithNextStep();
    void severalFailuresInOneRun();
    void completionDuringStartOfScan();
    void nonDispatchFailuresAreReportedToo();
    void pressesWhileCopyingAreIgnored();
};

void TestCopyRun::init() { Module1::FirstCopyDone = 0; }

void TestCopyRun::setupDialogDecision_data()
{
    QTest::addColumn<int>("setup");
    QTest::addColumn<int>("firstPage");
    QTest::addColumn<int>("firstCopyDone");
    QTest::addColumn<bool>("dialog");
    // Greyed (2) counts as not checked.
    QTest::newRow("setup off") << 0 << 1 << 0 << false;
    QTest::newRow("setup off, after a print") << 0 << 0 << -1 << false;
    QTest::newRow("setup greyed") << 2 << 1 << 0 << false;
    QTest::newRow("setup on, every time") << 1 << 0 << 0 << true;
    QTest::newRow("setup on, every time, after a print") << 1 << 0 << -1 << true;
    QTest::newRow("setup on, first-only greyed, after a print") << 1 << 2 << -1 << true;
    QTest::newRow("first only, before a print") << 1 << 1 << 0 << true;
    QTest::newRow("first only, after a print") << 1 << 1 << -1 << false;
}

void TestCopyRun::setupDialogDecision()
{
    QFETCH(int, setup);
    QFETCH(int, firstPage);
    QFETCH(int, firstCopyDone);
    QFETCH(bool, dialog);
    Module1::FirstCopyDone = static_cast<std::int16_t>(firstCopyDone);
    FakeHost host;
    host.options[Option::ShowSpecificSetup] = static_cast<std::int16_t>(setup);
    host.options[Option::ShowSpecificSetupFirstPage] = static_cast<std::int16_t>(firstPage);
    host.run.Kopyra(0);
    // What counts is the value member 16 holds when the scan starts.
    Variant last;
    for (const RecordedAccess& a : host.log.entries())
        if (a.control == QLatin1String("ImgScan1") && a.kind == imaging::AccessKind::Put &&
            a.member == 16)
            last = a.args[0];
    QCOMPARE(last, Variant::boolean(dialog));
    QCOMPARE(host.log.describe().last(), Step::Idle);
}

void TestCopyRun::answerNoPrintsNothing()
{
    FakeHost host;
    host.answer = MsgBox::IdNo;
    CopyRun& run = host.run;
    run.Kopyra(1);
    QCOMPARE(host.log.describe().last(), Question);
    QCOMPARE(Module1::FirstCopyDone, std::int16_t(0));
    // Without the question nothing asks: the page is printed right after it is shown.
    host.options[Option::AskBeforePrint] = 0;
    host.log.clear();
    run.Kopyra(1);
    QVERIFY(!host.log.describe().contains(Question));
    QCOMPARE(host.log.describe().last(), Step::Print);
    QCOMPARE(Module1::FirstCopyDone, std::int16_t(-1));
}

void TestCopyRun::otherPhasesDoNothing()
{
    FakeHost host;
    CopyRun& run = host.run;
    for (std::int16_t phase : {std::int16_t(-1), std::int16_t(3), std::int16_t(32767)})
        run.Kopyra(phase);
    QVERIFY(host.log.describe().isEmpty());
}

// Every step of each phase made to fail in turn: its box follows it, and the run goes on with
// the next step (the rest of a step that fails half-way is skipped: reading the print settings
// and printing are one step, as are the window handle and the print dialog).
void TestCopyRun::failureGoesOnWithNextStep_data()
{
    QTest::addColumn<int>("phase");
    QTest::addColumn<QString>("failing");
    QTest::addColumn<int>("unchecked"); // an option box unchecked, -1 none
    QTest::addColumn<QStringList>("expected");
    using namespace Step;
    // Phase 0 runs after a print (FirstCopyDone true): the first-only branch sets 16 false.
    const QStringList phase0{Busy,         SetupOn, ReadSetup, ReadFirst, SetupOff,
                             PageForAdmin, Exists,  Delete,    Scan,      Idle};
    const QStringList phase1{Finish,   Show,   Fit,    Refresh, ReadAsk,
                             Question, Read29, Read28, Read16,  Print};
    const QStringList phase2{Handle, PrintDialog};
    const QList<QStringList> oneStep{{Read29, Read28, Read16, Print}, {Handle, PrintDialog}};
    // A failing test counts as true and goes on inside the branch it guards, so the tests
    // run with their box unchecked; so does a failing test of 114 with no page file.
    const QHash<QString, Option> uncheckedFor{{ReadSetup, Option::ShowSpecificSetup},
                                              {ReadFirst, Option::ShowSpecificSetupFirstPage},
                                              {ReadAsk, Option::AskBeforePrint}};
    const auto add = [&](int phase, const QStringList& steps, const QString& failing, int unchecked,
                         const char* note = "") {
        QStringList expected;
        bool skipping = false;
        for (const QString& step : steps) {
            const bool sameStep = std::any_of(oneStep.begin(), oneStep.end(), [&](auto& group) {
                return group.contains(step) && group.contains(failing);
            });
            if (skipping && sameStep)
                continue;
            expected << step;
            if (step == failing) {
                expected << errorBox(phase);
                skipping = true;
            }
        }
        QTest::addRow("phase %d, %s%s", phase, qPrintable(failing), note)
            << phase << failing << unchecked << expected;
    };
    const QList<std::pair<int, QStringList>> phases{{0, phase0}, {1, phase1}, {2, phase2}};
    for (const auto& [phase, steps] : phases)
        for (const QString& failing : steps)
            add(phase, steps, failing,
                uncheckedFor.contains(failing) ? int(uncheckedFor.value(failing)) : -1);
    // With Scan-Setup zeigen unchecked, member 16 is set false outside the first-only branch.
    QStringList setupOff = phase0;
    setupOff.removeOne(ReadFirst);
    add(0, setupOff, SetupOff, int(Option::ShowSpecificSetup), ", set-up unchecked");
}

void TestCopyRun::failureGoesOnWithNextStep()
{
    QFETCH(int, phase);
    QFETCH(QString, failing);
    QFETCH(int, unchecked);
    QFETCH(QStringList, expected);
    Module1::FirstCopyDone = -1;
    FakeHost host;
    if (unchecked >= 0)
        host.options[Option(unchecked)] = 0;
    // No page file, yet a failing test of it counts as true: the page file is deleted.
    host.admin.setResult(114, Variant::boolean(failing != Step::Exists));
    host.failLine(failing);
    host.run.Kopyra(static_cast<std::int16_t>(phase)); // nothing escapes
    QCOMPARE(host.log.describe(), expected);
    QCOMPARE(Module1::FirstCopyDone, std::int16_t(-1));
}

void TestCopyRun::severalFailuresInOneRun()
{
    // The scan wrote no page: showing and printing fail, each with a box of its own; the
    // copy still counts as having reached its print step.
    FakeHost host;
    host.options[Option::AskBeforePrint] = 0;
    host.edit.failOn(343, 9202, QStringLiteral("Seite fehlt"), QStringLiteral("ImgEdit"));
    host.edit.failOn(351, 9200, QStringLiteral("Nichts zu drucken"), QStringLiteral("ImgEdit"));
    host.run.Kopyra(1);
    const QStringList boxes = host.log.describe().filter(QStringLiteral("box 16:"));
    QCOMPARE(boxes.size(), 2);
    QVERIFY(boxes[0].contains(QStringLiteral("Seite fehlt (9202)")));
    QVERIFY(boxes[1].contains(QStringLiteral("Nichts zu drucken (9200)")));
    QCOMPARE(Module1::FirstCopyDone, std::int16_t(-1));
}

void TestCopyRun::completionDuringStartOfScan()
{
    // The scan control raises its event inside member 102: phase 1 runs to its end, with its
    // own phase number in its reports, before phase 0 goes on with the idle picture.
    FakeHost host;
    host.options[Option::AskBeforePrint] = 0;
    CopyRun& run = host.run;
    host.scan.onAccess(102, [&] { host.scan.fireEvent(10); });
    host.edit.failOn(351, 1, QStringLiteral("Papierstau"), QStringLiteral("Drucker"));
    host.failLine(Step::Idle);
    run.Kopyra(0);
    const QStringList log = host.log.describe();
    const auto scan = log.indexOf(Step::Scan);
    QCOMPARE(log.mid(scan, 6), (QStringList{Step::Scan, Step::Finish, Step::Show, Step::Fit,
                                            Step::Refresh, Step::ReadAsk}));
    QVERIFY(log[scan + 10].endsWith(QStringLiteral("Phase: 1")));
    QCOMPARE(log[scan + 11], Step::Idle);
    QCOMPARE(log[scan + 12], errorBox(0));
    QCOMPARE(log.size(), scan + 13);
}

void TestCopyRun::nonDispatchFailuresAreReportedToo()
{
    FakeHost host;
    host.options[Option::AskBeforePrint] = 0;
    host.edit.onAccess(351, [] { throw std::bad_alloc(); });
    host.run.Kopyra(1);
    const QStringList boxes = host.log.describe().filter(QStringLiteral("box 16:"));
    QCOMPARE(boxes.size(), 1);
    QVERIFY(boxes[0].contains(QStringLiteral("Ort: Kopyra")));
    QVERIFY(boxes[0].endsWith(QStringLiteral("Phase: 1")));
}

void TestCopyRun::pressesWhileCopyingAreIgnored()
{
    // Presses of the copy and printer buttons from inside the waits of a running copy, and in
    // the moment between the scan's end and its completion event, start nothing.
    FakeHost host;
    host.options[Option::AskBeforePrint] = 0;
    CopyRun& run = host.run;
    const auto press = [&run] {
        run.Kopyra(0);
        run.Kopyra(2);
    };
    host.scan.onAccess(102, press);
    host.edit.onAccess(351, press);
    run.Kopyra(0);
    press();
    QCoreApplication::processEvents(); // no completion event: the copy is over
    QCOMPARE(host.log.describe().filter(Step::Scan).size(), 1);
    QVERIFY(!host.log.describe().contains(Step::PrintDialog));

    host.scan.onAccess(102, [&] { host.scan.fireEvent(10); });
    run.Kopyra(0);
    QCOMPARE(host.log.describe().filter(Step::Scan).size(), 2);
    QCOMPARE(host.log.describe().filter(Step::Print).size(), 1);
    QCOMPARE(host.log.describe().last(), Step::Idle);
    QCoreApplication::processEvents();
    run.Kopyra(2);
    QCOMPARE(host.log.describe().last(), Step::PrintDialog);
}

QTEST_GUILESS_MAIN(TestCopyRun)
#include "tst_copy_run.moc"

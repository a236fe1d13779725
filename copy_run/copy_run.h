#pragma once

#include "dispatch/dispatch_control.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>

// What the copy run needs from the main window. Every operation may fail with an exception;
// the run reports it and goes on.
class CopyRunHost {
public:
    enum class Option { ShowSpecificSetup, ShowSpecificSetupFirstPage, AskBeforePrint };

    virtual ~CopyRunHost() = default;
    // The value of an option box: 0 unchecked, 1 checked, 2 greyed.
    virtual std::int16_t optionValue(Option option) = 0;
    // The copy button's picture: 0 idle, 1 busy; shown at once.
    virtual void SetCopyBtn(std::int32_t mode) = 0;
    virtual std::int32_t nativeWindowHandle() = 0;
    virtual void deletePageFile(const QString& path) = 0;
    virtual int msgBox(const QString& text, int style, const QString& title) = 0;
};

// The imaging controls the copy run drives: ImgScan1, ImgEdit1, ImgAdmin1.
struct CopyControls {
    imaging::DispatchControl& scan;
    imaging::DispatchControl& edit;
    imaging::DispatchControl& admin;
};

// The copy run: phase 0 starts a copy (busy picture, set-up decision, old page gone, scan
// started, idle picture), phase 1 shows the scanned page and prints it unless the user says
// no, phase 2 opens the print dialog. Phase 1 runs when the scan control reports the page
// complete. Every failure is reported in its own box and the run goes on with the step after
// the failing one; nothing escapes.
//
// While a copy runs (from its first step until the page is printed, or until the scan ends
// without a page), further presses of the copy button and of the printer button are ignored:
// the waits inside a copy keep the window painting, and a second copy started from inside
// them would delete and rescan the page the first one is showing.
class CopyRun : public QObject {
public:
    CopyRun(CopyControls controls, CopyRunHost& host);

    // The page file the copy run hands to the controls.
    void setPageFile(const QString& path) { m_pageFile = path; }

    void Kopyra(std::int16_t phase);
    bool copying() const { return m_running > 0 || m_awaitingPage; }

    // The text of the error report for a failure in the given phase.
    static QString errorText(std::int32_t number, const QString& description, const QString& source,
                             std::int16_t phase);

private:
    void phase0();
    void phase1();
    void phase2();

    // Runs one step; a failure is reported and the run goes on.
    void attempt(const std::function<void()>& step);
    // A test whose failure counts as true: the run goes on inside the branch it guards.
    bool test(const std::function<bool()>& condition);
    bool isChecked(CopyRunHost::Option option);

    CopyControls m_controls;
    CopyRunHost& m_host;
    QString m_pageFile;
    std::int16_t m_phase = 0;    // of the run that is reporting; runs nest (phase 1 inside 0)
    int m_running = 0;           // phases 0 and 1 under way
    bool m_awaitingPage = false; // phase 0 is over; the scan's completion may still come
};

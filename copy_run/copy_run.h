#pragma once

#include "imaging/dispatch_control.h"

#include <QString>

#include <cstdint>
#include <functional>

// What the copy run needs from the main window. Every operation may fail with an exception;
// the run reports it and goes on.
class CopyRunHost {
public:
    enum class Option { ShowSpecificSetup, ShowSpecificSetupFirstPage, AskBeforePrint };

    virtual ~CopyRunHost() = default;
    virtual imaging::DispatchControl& imgScan1() = 0;
    virtual imaging::DispatchControl& imgEdit1() = 0;
    virtual imaging::DispatchControl& imgAdmin1() = 0;
    // The value of an option box: 0 unchecked, 1 checked, 2 greyed.
    virtual std::int16_t optionValue(Option option) = 0;
    // The copy button's picture: 0 idle, 1 busy; shown at once.
    virtual void SetCopyBtn(std::int32_t mode) = 0;
    virtual std::int32_t nativeWindowHandle() = 0;
    virtual void deletePageFile(const QString& path) = 0;
    virtual int msgBox(const QString& text, int style, const QString& title) = 0;
};

// The copy run: phase 0 starts a copy (busy picture, set-up decision, old page gone, scan
// started, idle picture), phase 1 shows the scanned page and prints it unless the user says
// no, phase 2 opens the print dialog. Every failure is reported in its own box and the run goes
// on with the step after the failing one; nothing escapes.
class CopyRun {
public:
    explicit CopyRun(CopyRunHost& host);

    void Kopyra(std::int16_t phase);

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

    CopyRunHost& m_host;
    std::int16_t m_phase = 0; // of the run that is reporting; runs nest (phase 1 inside 0)
};

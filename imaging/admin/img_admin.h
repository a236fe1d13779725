#pragma once

#include "dispatch/dispatch_control.h"
#include "dispatch/members.h"
#include "imaging/common/print_settings.h"

class QPrintDialog;

namespace imaging {

// The administration control (programmatic name "AdminLibCtl.ImgAdmin"): tests the page file
// and keeps the print settings.
//
// Members:
//   4   put  text       the file that member 114 tests
//   114 call (0)        true when the file of member 4 exists as a file (a folder of that
//                       name does not count)
//   104 call (handle)   the print dialog (printer, paper, copies, and on a page of its own the
//                       size: "Originalgröße (1:1)" or "An Seite anpassen"), owned by the
//                       window with that handle; without such a window it has no owner.
//                       OK keeps the settings for the following prints and between runs;
//                       Abbrechen keeps the old ones. A print service that does not name its
//                       printers within a few seconds is an error instead of a frozen window.
//   29  read            number of copies
//   28  read            size mode: 0 = true size, 1 = fit to page
//   16  read            output: 0 = a printer, 1 = a PDF file (no printer installed at all)
// The settings live in the components' settings file, group [Print].
class ImgAdmin : public DispatchControl {
public:
    // How long member 104 waits for the print service to name its printers before it says
    // that the service does not answer.
    static constexpr int PrintServicePatienceMs = 5000;

    QString progId() const override;
    void put(std::int32_t member, const Variant& value) override;
    Variant call(std::int32_t member, const QList<Variant>& args) override;
    Variant read(std::int32_t member) override;

    // The dialog while member 104 shows it (for tests and the owner's use), else nullptr.
    QPrintDialog* printDialog() const { return m_dialog; }

private:
    void runPrintDialog(std::int32_t handle);

    QString m_file;
    QPrintDialog* m_dialog = nullptr;
};

} // namespace imaging

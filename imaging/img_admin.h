#pragma once

#include "imaging/dispatch_control.h"

namespace imaging {

// The administration control (programmatic name "AdminLibCtl.ImgAdmin"): tests the page file
// and keeps the print settings.
//
// Members:
//   4   put  text       the file that member 114 tests
//   114 call (0)        non-zero when the file of member 4 exists as a file (a folder of that
//                       name does not count)
//   104 call (handle)   the print dialog, owned by the window with that handle
//   29  read            number of copies
//   28  read            size mode: 0 = true size, 1 = fit to page
//   16  read            index of the chosen printer, 0 = the default destination
//
// This build keeps the default print settings and has no print dialog yet: member 104 reports
// that clearly.
class ImgAdmin : public DispatchControl {
public:
    enum ErrorNumber : std::int32_t {
        NotAvailable = 9300,
        UnsupportedValue = 9301,
    };

    QString progId() const override;
    void put(std::int32_t member, const Variant& value) override;
    Variant call(std::int32_t member, const QList<Variant>& args) override;
    Variant read(std::int32_t member) override;

private:
    QString m_file;
    std::int32_t m_copies = 1;
    std::int32_t m_sizeMode = 0;
    std::int32_t m_printer = 0;
};

} // namespace imaging

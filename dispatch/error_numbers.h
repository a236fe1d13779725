#pragma once

#include <cstdint>

namespace imaging {

// Every number a failure can carry, by where it comes from. The program's own numbers are
// those of the original runtime; the components keep to their own ranges: 91xx the scan
// control (9150 + a SANE status), 92xx the edit control, 93xx the administration control.
namespace ErrorNumber {

// The program itself.
constexpr std::int32_t SubscriptOutOfRange = 9; // a copy-button picture that does not exist
constexpr std::int32_t InternalError = 51;      // anything that is not a dispatch error
constexpr std::int32_t FileAccess = 75;         // the old page could not be deleted
constexpr std::int32_t InvalidPropertyValue = 380;

// The scan control.
constexpr std::int32_t ScanUnsupportedValue = 9101;
constexpr std::int32_t NoScanner = 9102;
constexpr std::int32_t NoPageFile = 9103;
constexpr std::int32_t ScannerBusy = 9104;
constexpr std::int32_t ScannerNotAnswering = 9105;   // the helper's watchdog
constexpr std::int32_t ScannerDriverCrashed = 9106;  // the helper ended by its backend
constexpr std::int32_t ScannerHelperMissing = 9107;  // the helper cannot be started
constexpr std::int32_t NoSuchSource = 9108;          // no feeder (or none for both sides)
constexpr std::int32_t ScannerConnectionLost = 9109; // a network scanner closed its connection
constexpr std::int32_t BacksDoNotMatch = 9110;       // backs after fronts: another page count
constexpr std::int32_t NoRoomForPages = 9111;        // several originals: the disk is full
constexpr std::int32_t NoBookFound = 9112;           // book copy: no spine near the middle
constexpr std::int32_t PageFileFailed = 9140;
constexpr std::int32_t SaneStatusBase = 9150; // + the SANE status

// The edit control.
constexpr std::int32_t EditUnsupportedValue = 9201;
constexpr std::int32_t PageUnreadable = 9202;
constexpr std::int32_t NothingShown = 9203;
constexpr std::int32_t PrintFailed = 9210;
constexpr std::int32_t PageUnreadableForPrint = 9211;
constexpr std::int32_t PrinterUnreachable = 9212;
constexpr std::int32_t PrintServiceDown = 9213;

// The administration control.
constexpr std::int32_t AdminUnsupportedValue = 9301;
constexpr std::int32_t PrintServiceSilent = 9302;

// The dispatch layer itself: the automation HRESULTs read as signed numbers.
constexpr std::int32_t MemberNotFound = static_cast<std::int32_t>(0x80020003u); // MEMBERNOTFOUND
constexpr std::int32_t TypeMismatch = static_cast<std::int32_t>(0x80020005u);   // TYPEMISMATCH
constexpr std::int32_t Overflow = static_cast<std::int32_t>(0x8002000Au);       // OVERFLOW
constexpr std::int32_t BadParamCount = static_cast<std::int32_t>(0x8002000Eu);  // BADPARAMCOUNT

} // namespace ErrorNumber

} // namespace imaging

#pragma once

#include "imaging/scan/wire/scan_option.h"

#include <QByteArray>
#include <QDataStream>
#include <QIODevice>

#include <chrono>

namespace imaging::sane {
// On the wire, beside the types (where the containers' stream operators look).
QDataStream& operator<<(QDataStream& out, const DeviceInfo& d);
QDataStream& operator>>(QDataStream& in, DeviceInfo& d);
QDataStream& operator<<(QDataStream& out, const OptionInfo& o);
QDataStream& operator>>(QDataStream& in, OptionInfo& o);
QDataStream& operator<<(QDataStream& out, const SetResult& r);
QDataStream& operator>>(QDataStream& in, SetResult& r);
QDataStream& operator<<(QDataStream& out, const Treatment& t);
QDataStream& operator>>(QDataStream& in, Treatment& t);
} // namespace imaging::sane

// Kopyra and its scanner helper talk over a local stream socket: messages of a length and a
// QDataStream body, whose first field is the message's kind. A descriptor (the temporary page
// file) can travel with a message.
namespace imaging::wire {

// What Kopyra asks; the helper answers each with Done or Failed (a scan sends Progress
// before).
enum class Ask : qint32 {
    ListDevices = 1, // → QList<DeviceInfo>
    Open,            // QString name
    Close,
    Options,      // → QList<OptionInfo>
    Find,         // QString name → int
    Option,       // int index → OptionInfo
    Value,        // int index → QVariant
    SetValue,     // int index, QVariant → SetResult
    Press,        // int index → SetResult
    SetAutomatic, // int index → SetResult
    SetByName,    // QString name, QVariant → bool
    SetUp,        // ScanPreferences, QVariantMap remembered values → Treatment
    Scan,         // QString page path, Treatment, with the page file's descriptor → bool
                  // completed
    Cancel,       // while a scan runs; no answer of its own
    Quit,
};

enum class Answer : qint32 {
    Done = 100, // followed by the result, if the question has one
    Failed,     // qint32 number, QString description
    Progress,   // qint32 page, qint64 done, qint64 total (-1: not known) of that page
    PageDone,   // qint32 pages of the feeder's stack complete in the file
};

// Builds a message body: the kind, then the fields.
template <class Kind, class... Fields> QByteArray message(Kind kind, const Fields&... fields)
{
    QByteArray body;
    QDataStream out(&body, QIODevice::WriteOnly);
    out << static_cast<qint32>(kind);
    ((out << fields), ...);
    return body;
}

// One end of the socket. Not thread-safe: one reader and one writer at a time.
class Channel {
public:
    enum class Status { Message, Timeout, Closed };

    explicit Channel(int fd = -1)
        : m_fd(fd)
    {
    }
    int fd() const { return m_fd; }
    // Forgets the buffered bytes and takes a new descriptor (the old one is not closed).
    void reset(int fd);

    // False when the other end is gone. Never raises SIGPIPE.
    bool send(const QByteArray& body, int passFd = -1);
    // Waits up to the timeout (negative: for ever) for a whole message; a descriptor that
    // came with it is stored in *passedFd (which the caller then owns), else -1.
    Status receive(QByteArray& body, std::chrono::milliseconds timeout, int* passedFd = nullptr);

private:
    int m_fd;
    QByteArray m_buffer;
    int m_pendingFd = -1;
};

} // namespace imaging::wire

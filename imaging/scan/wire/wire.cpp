#include "imaging/scan/wire/wire.h"

#include <libintl.h>

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

namespace imaging::sane {

QString translated(const QString& text)
{
    if (text.isEmpty())
        return text;
    // Whatever the locale's character set, the catalogue's texts come as UTF-8.
    static const bool utf8 = bind_textdomain_codeset("sane-backends", "UTF-8") != nullptr;
    Q_UNUSED(utf8);
    return QString::fromUtf8(dgettext("sane-backends", text.toUtf8().constData()));
}

int OptionInfo::count() const
{
    switch (kind) {
    case Kind::Int:
    case Kind::Fixed:
    case Kind::Bool:
        return std::max(1, size / 4); // SANE's words are four bytes
    default:
        return 1;
    }
}

QDataStream& operator<<(QDataStream& out, const DeviceInfo& d)
{
    return out << d.name << d.vendor << d.model << d.type;
}

QDataStream& operator>>(QDataStream& in, DeviceInfo& d)
{
    return in >> d.name >> d.vendor >> d.model >> d.type;
}

QDataStream& operator<<(QDataStream& out, const OptionInfo& o)
{
    return out << qint32(o.index) << o.name << o.title << o.description << qint32(o.kind)
               << qint32(o.constraint) << qint32(o.unit) << qint32(o.size) << o.active << o.settable
               << o.hardware << o.min << o.max << o.quant << o.words << o.strings;
}

QDataStream& operator>>(QDataStream& in, OptionInfo& o)
{
    qint32 index = 0, kind = 0, constraint = 0, unit = 0, size = 0;
    in >> index >> o.name >> o.title >> o.description >> kind >> constraint >> unit >> size >>
        o.active >> o.settable >> o.hardware >> o.min >> o.max >> o.quant >> o.words >> o.strings;
    o.index = index;
    o.kind = static_cast<OptionInfo::Kind>(kind);
    o.constraint = static_cast<OptionInfo::Constraint>(constraint);
    o.unit = static_cast<OptionInfo::Unit>(unit);
    o.size = size;
    return in;
}

QDataStream& operator<<(QDataStream& out, const SetResult& r)
{
    return out << r.inexact << r.reloadOptions;
}

QDataStream& operator>>(QDataStream& in, SetResult& r)
{
    return in >> r.inexact >> r.reloadOptions;
}

QDataStream& operator<<(QDataStream& out, const Treatment& t)
{
    return out << qint32(t.tone) << qint32(t.lineArtLevel) << t.allPages << qint32(t.original)
               << t.compressed << qint32(t.edgeEraseMm);
}

QDataStream& operator>>(QDataStream& in, Treatment& t)
{
    qint32 tone = 0, level = -1, original = 2;
    qint32 erase = 0;
    in >> tone >> level >> t.allPages >> original >> t.compressed >> erase;
    t.edgeEraseMm = erase;
    t.original = original;
    t.tone = tone;
    t.lineArtLevel = level;
    return in;
}

} // namespace imaging::sane

namespace imaging::wire {

void Channel::reset(int fd)
{
    m_fd = fd;
    m_buffer.clear();
    if (m_pendingFd >= 0)
        ::close(m_pendingFd);
    m_pendingFd = -1;
}

bool Channel::send(const QByteArray& body, int passFd)
{
    QByteArray data(4, Qt::Uninitialized);
    const quint32 size = static_cast<quint32>(body.size());
    std::memcpy(data.data(), &size, sizeof size);
    data += body;

    qsizetype sent = 0;
    while (sent < data.size()) {
        iovec part{data.data() + sent, static_cast<size_t>(data.size() - sent)};
        msghdr header{};
        header.msg_iov = &part;
        header.msg_iovlen = 1;
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))];
        if (passFd >= 0 && sent == 0) {
            header.msg_control = control;
            header.msg_controllen = sizeof control;
            cmsghdr* c = CMSG_FIRSTHDR(&header);
            c->cmsg_level = SOL_SOCKET;
            c->cmsg_type = SCM_RIGHTS;
            c->cmsg_len = CMSG_LEN(sizeof(int));
            std::memcpy(CMSG_DATA(c), &passFd, sizeof(int));
        }
        // MSG_NOSIGNAL: a helper gone mid-write is a failed send, never the end of Kopyra.
        const ssize_t n = ::sendmsg(m_fd, &header, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        sent += n;
    }
    return true;
}

Channel::Status Channel::receive(QByteArray& body, std::chrono::milliseconds timeout, int* passedFd)
{
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        if (m_buffer.size() >= 4) {
            quint32 size = 0;
            std::memcpy(&size, m_buffer.constData(), sizeof size);
            if (m_buffer.size() >= 4 + qsizetype(size)) {
                body = m_buffer.mid(4, size);
                m_buffer.remove(0, 4 + size);
                if (passedFd)
                    *passedFd = m_pendingFd;
                else if (m_pendingFd >= 0)
                    ::close(m_pendingFd);
                m_pendingFd = -1;
                return Status::Message;
            }
        }
        int wait = -1;
        if (timeout.count() >= 0) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            wait = static_cast<int>(std::max<std::chrono::milliseconds::rep>(0, left.count()));
        }
        pollfd p{m_fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, wait);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready == 0)
            return Status::Timeout;
        if (ready < 0)
            return Status::Closed;

        char chunk[64 * 1024];
        iovec part{chunk, sizeof chunk};
        msghdr header{};
        header.msg_iov = &part;
        header.msg_iovlen = 1;
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))];
        header.msg_control = control;
        header.msg_controllen = sizeof control;
        const ssize_t n = ::recvmsg(m_fd, &header, MSG_CMSG_CLOEXEC);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0)
            return Status::Closed;
        for (cmsghdr* c = CMSG_FIRSTHDR(&header); c; c = CMSG_NXTHDR(&header, c))
            if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_RIGHTS) {
                int fd = -1;
                std::memcpy(&fd, CMSG_DATA(c), sizeof fd);
                if (m_pendingFd >= 0)
                    ::close(m_pendingFd);
                m_pendingFd = fd;
            }
        m_buffer.append(chunk, n);
    }
}

} // namespace imaging::wire

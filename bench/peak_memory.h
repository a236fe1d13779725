#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

// The peak resident memory of this process so far, in MB.
inline double peakMb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly))
        for (const QByteArray& line : status.readAll().split('\n'))
            if (line.startsWith("VmHWM:"))
                return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024;
    return 0;
}

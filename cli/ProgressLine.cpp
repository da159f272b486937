#include "cli/ProgressLine.h"

#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

ProgressLine::ProgressLine(qint64 total, std::function<qint64()> done, QObject *parent)
    : QObject(parent), m_total(total), m_done(std::move(done))
{
    m_clock.start();
    connect(&m_timer, &QTimer::timeout, this, &ProgressLine::draw);
    m_timer.start(500);
}

ProgressLine::~ProgressLine()
{
    if (!m_drawn)
        return;
    draw();
    std::fputs("\n", stderr);
}

qint64 ProgressLine::inputFileSize()
{
    struct stat info;
    return ::fstat(0, &info) == 0 && S_ISREG(info.st_mode) ? qint64(info.st_size) : 0;
}

bool ProgressLine::wantedByDefault()
{
    struct stat info;
    return ::fstat(0, &info) == 0 && S_ISREG(info.st_mode) && ::isatty(2) == 1;
}

QString ProgressLine::sizeText(double bytes)
{
    const char *units[] = {"B", "KiB", "MiB", "GiB"};
    int unit = 0;
    while (bytes >= 1024 && unit < 3) {
        bytes /= 1024;
        ++unit;
    }
    return QStringLiteral("%1 %2").arg(bytes, 0, 'f', unit == 0 ? 0 : 1).arg(QLatin1String(units[unit]));
}

void ProgressLine::draw()
{
    const qint64 done = m_done();
    const double seconds = qMax<qint64>(m_clock.elapsed(), 1) / 1000.0;
    const double rate = done / seconds;
    QString text = QStringLiteral("sent %1").arg(sizeText(double(done)));
    if (m_total > 0) {
        text += QStringLiteral(" of %1 (%2%)").arg(sizeText(double(m_total))).arg(done * 100 / m_total);
    }
    text += QStringLiteral(", %1/s").arg(sizeText(rate));
    if (m_total > 0 && rate > 0)
        text += QStringLiteral(", %1 s left").arg(qMax<qint64>(0, qint64((m_total - done) / rate)));
    // \r and "erase to the end of the line": the line is drawn over itself.
    const QByteArray line = "\r" + text.toLocal8Bit() + "\x1b[K";
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
    std::fflush(stderr);
    m_drawn = true;
}

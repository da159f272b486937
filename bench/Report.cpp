#include "bench/Report.h"

#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSysInfo>
#include <QTextStream>
#include <QThread>

#include <algorithm>

namespace {
QString number(double value)
{
    const double magnitude = qAbs(value);
    if (value == double(qint64(value)) && magnitude < 1e15)
        return QString::number(qint64(value));
    if (magnitude >= 10000)
        return QString::number(value, 'f', 0);
    if (magnitude >= 100)
        return QString::number(value, 'f', 1);
    return QString::number(value, 'f', 2);
}

QJsonObject samplesJson(const Samples &samples)
{
    QJsonArray values;
    for (double v : samples.values())
        values.append(v);
    QJsonObject o;
    o.insert(QStringLiteral("median"), samples.median());
    o.insert(QStringLiteral("min"), samples.min());
    o.insert(QStringLiteral("max"), samples.max());
    o.insert(QStringLiteral("samples"), values);
    return o;
}

QString targetText(const BenchRow &row)
{
    if (row.target == BenchRow::NoTarget)
        return QString();
    const QString bound = QStringLiteral("%1%2")
                              .arg(row.target == BenchRow::AtLeast ? QStringLiteral(">=") : QStringLiteral("<="))
                              .arg(row.targetRatio, 0, 'f', 2);
    if (!row.hasRatio())
        return bound;
    return bound + (row.targetMet() ? QStringLiteral(" met") : QStringLiteral(" MISSED"));
}
}

Report::Report(bool quick)
    : m_quick(quick),
      m_started(QDateTime::currentDateTime().toString(Qt::ISODate)),
      m_loadAtStart(loadAverage())
{
}

void Report::add(const QVector<BenchRow> &rows)
{
    m_rows += rows;
}

void Report::setLoadAtEnd()
{
    m_loadAtEnd = loadAverage();
}

QString Report::loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    const QList<QByteArray> fields = file.readAll().split(' ');
    return fields.size() >= 3 ? QString::fromLatin1(fields[0] + ' ' + fields[1] + ' ' + fields[2]) : QString();
}

QString Report::figure(const Samples &samples, const QString &unit)
{
    if (samples.isEmpty())
        return QStringLiteral("-");
    if (samples.count() == 1)
        return QStringLiteral("%1 %2").arg(number(samples.median()), unit);
    return QStringLiteral("%1 [%2..%3] %4")
        .arg(number(samples.median()), number(samples.min()), number(samples.max()), unit);
}

QString Report::table() const
{
    const QStringList header{QStringLiteral("path"), QStringLiteral("plug-in median [min..max]"),
                             QStringLiteral("baseline median [min..max]"), QStringLiteral("ratio"),
                             QStringLiteral("target")};
    QVector<QStringList> lines;
    for (const BenchRow &row : m_rows) {
        const QString baseline = row.baseline.isEmpty()
                                     ? QStringLiteral("-")
                                     : QStringLiteral("%1: %2").arg(row.baselineName, figure(row.baseline, row.unit));
        lines.append({row.path, figure(row.plugin, row.unit), baseline,
                      row.hasRatio() ? QString::number(row.ratio(), 'f', 3) : QStringLiteral("-"), targetText(row)});
    }
    QVector<int> widths(header.size());
    for (int c = 0; c < header.size(); ++c) {
        widths[c] = header[c].size();
        for (const QStringList &line : lines)
            widths[c] = std::max(widths[c], int(line[c].size()));
    }

    QString out;
    QTextStream s(&out);
    s << "pcom_bench " << (m_quick ? "--quick" : "full") << " run of " << m_started << " on "
      << QSysInfo::machineHostName() << ", " << QThread::idealThreadCount() << " CPUs, load average "
      << m_loadAtStart << " at start";
    if (!m_loadAtEnd.isEmpty())
        s << ", " << m_loadAtEnd << " at end";
    s << "\n\n";
    auto printLine = [&](const QStringList &cells) {
        QString line;
        for (int c = 0; c < cells.size(); ++c) {
            line += (c ? QStringLiteral("  ") : QString())
                    + (c == 0 ? cells[c].leftJustified(widths[c]) : cells[c].rightJustified(widths[c]));
        }
        while (line.endsWith(QLatin1Char(' ')))
            line.chop(1);
        s << line << '\n';
    };
    printLine(header);
    QStringList rule;
    for (int w : widths)
        rule.append(QString(w, QLatin1Char('-')));
    printLine(rule);
    for (const QStringList &line : lines)
        printLine(line);

    bool anyNote = false;
    for (const BenchRow &row : m_rows) {
        if (row.note.isEmpty())
            continue;
        if (!anyNote)
            s << "\nNotes:\n";
        anyNote = true;
        s << "  " << row.path << ": " << (row.failed ? "FAILED: " : "") << row.note << '\n';
    }
    return out;
}

bool Report::anyFailed() const
{
    for (const BenchRow &row : m_rows) {
        if (row.failed)
            return true;
    }
    return false;
}

QByteArray Report::json() const
{
    QJsonArray rows;
    for (const BenchRow &row : m_rows) {
        QJsonObject o;
        o.insert(QStringLiteral("path"), row.path);
        o.insert(QStringLiteral("unit"), row.unit);
        o.insert(QStringLiteral("plugin"), samplesJson(row.plugin));
        QJsonObject baseline = samplesJson(row.baseline);
        baseline.insert(QStringLiteral("name"), row.baselineName);
        o.insert(QStringLiteral("baseline"), baseline);
        if (row.hasRatio())
            o.insert(QStringLiteral("ratio"), row.ratio());
        if (row.target != BenchRow::NoTarget) {
            QJsonObject target;
            target.insert(QStringLiteral("bound"), row.target == BenchRow::AtLeast ? QStringLiteral(">=")
                                                                                   : QStringLiteral("<="));
            target.insert(QStringLiteral("ratio"), row.targetRatio);
            if (row.hasRatio())
                target.insert(QStringLiteral("met"), row.targetMet());
            o.insert(QStringLiteral("target"), target);
        }
        if (!row.note.isEmpty())
            o.insert(QStringLiteral("note"), row.note);
        if (row.failed)
            o.insert(QStringLiteral("failed"), true);
        rows.append(o);
    }
    QJsonObject root;
    root.insert(QStringLiteral("started"), m_started);
    root.insert(QStringLiteral("mode"), m_quick ? QStringLiteral("quick") : QStringLiteral("full"));
    root.insert(QStringLiteral("host"), QSysInfo::machineHostName());
    root.insert(QStringLiteral("cpus"), QThread::idealThreadCount());
    root.insert(QStringLiteral("loadAverageAtStart"), m_loadAtStart);
    root.insert(QStringLiteral("loadAverageAtEnd"), m_loadAtEnd);
    root.insert(QStringLiteral("qtVersion"), QString::fromLatin1(qVersion()));
    root.insert(QStringLiteral("rows"), rows);
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

bool Report::writeJson(const QString &fileName) const
{
    QFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return file.write(json()) >= 0 && file.flush();
}

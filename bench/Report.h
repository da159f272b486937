#pragma once

#include "bench/BenchRow.h"

#include <QString>
#include <QVector>

// The run's figures as a text table and as JSON, with the conditions of the
// run (date, machine load, quick or full) so that runs can be compared.
class Report
{
public:
    explicit Report(bool quick);

    void add(const QVector<BenchRow> &rows);
    void setLoadAtEnd();

    QString table() const;
    bool anyFailed() const;
    QByteArray json() const;
    bool writeJson(const QString &fileName) const;

private:
    static QString figure(const Samples &samples, const QString &unit);
    static QString loadAverage();

    bool m_quick;
    QString m_started;
    QString m_loadAtStart;
    QString m_loadAtEnd;
    QVector<BenchRow> m_rows;
};

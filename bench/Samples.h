#pragma once

#include <QVector>

// The repetitions of one figure, summarised by median, min and max.
class Samples
{
public:
    void add(double value) { m_values.append(value); }
    bool isEmpty() const { return m_values.isEmpty(); }
    int count() const { return m_values.size(); }
    const QVector<double> &values() const { return m_values; }

    double median() const;
    double min() const;
    double max() const;

private:
    QVector<double> m_values;
};

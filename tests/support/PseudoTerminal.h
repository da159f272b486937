#pragma once

#include <QByteArray>
#include <QString>

// A pseudo-terminal pair in raw mode: the serial port under test opens the
// slave side by its path, the test talks through the master side.
class PseudoTerminal
{
public:
    PseudoTerminal();
    ~PseudoTerminal();

    bool isValid() const { return m_master >= 0; }
    QString slavePath() const { return m_slavePath; }
    int masterFd() const { return m_master; }
    int slaveFd() const { return m_slave; }

    // Writes everything to the master side; false on error.
    bool writeMaster(const QByteArray &data);
    // Collects what the port sent until `count` bytes arrived or timeoutMs passed.
    QByteArray readMaster(int count, int timeoutMs = 5000);

private:
    int m_master = -1;
    int m_slave = -1;
    QString m_slavePath;
};

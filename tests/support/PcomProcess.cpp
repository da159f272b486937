#include "tests/support/PcomProcess.h"

#include <QElapsedTimer>
#include <QProcessEnvironment>
#include <QEventLoop>
#include <QTimer>

#include <csignal>

PcomProcess::PcomProcess(QObject *parent)
    : QObject(parent)
{
    connect(&m_process, &QProcess::readyReadStandardOutput, this, &PcomProcess::collect);
    connect(&m_process, &QProcess::readyReadStandardError, this, &PcomProcess::collect);
    connect(&m_process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), this, [this]() {
        collect();
        m_finished = true;
    });
}

PcomProcess::~PcomProcess()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

void PcomProcess::start(const QStringList &arguments)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("QT_LOGGING_RULES"));
    m_process.setProcessEnvironment(env);
    m_process.start(QStringLiteral(PCOM_CLI_BINARY), arguments);
    m_process.waitForStarted(10000);
}

void PcomProcess::write(const QByteArray &data)
{
    m_process.write(data);
}

void PcomProcess::closeStdin()
{
    m_process.closeWriteChannel();
}

void PcomProcess::terminate()
{
    m_process.terminate();
}

void PcomProcess::interrupt()
{
    if (m_process.processId() > 0)
        ::kill(pid_t(m_process.processId()), SIGINT);
}

void PcomProcess::hangUp()
{
    if (m_process.processId() > 0)
        ::kill(pid_t(m_process.processId()), SIGHUP);
}

void PcomProcess::collect()
{
    m_out += m_process.readAllStandardOutput();
    m_err += m_process.readAllStandardError();
}

bool PcomProcess::waitFor(const std::function<bool()> &done, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    connect(&m_process, &QProcess::readyReadStandardOutput, &loop, &QEventLoop::quit);
    connect(&m_process, &QProcess::readyReadStandardError, &loop, &QEventLoop::quit);
    connect(&m_process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), &loop, &QEventLoop::quit);
    while (!done() && !m_finished) {
        const qint64 left = timeoutMs - clock.elapsed();
        if (left <= 0)
            break;
        timer.start(int(left));
        loop.exec();
    }
    return done();
}

bool PcomProcess::waitForStderr(const QByteArray &text, int timeoutMs)
{
    return waitFor([&]() { return m_err.contains(text); }, timeoutMs);
}

bool PcomProcess::waitForStdout(const QByteArray &text, int timeoutMs)
{
    return waitFor([&]() { return m_out.contains(text); }, timeoutMs);
}

bool PcomProcess::waitForStdoutSize(int size, int timeoutMs)
{
    return waitFor([&]() { return m_out.size() >= size; }, timeoutMs);
}

bool PcomProcess::waitForExit(int timeoutMs)
{
    return waitFor([&]() { return m_finished; }, timeoutMs);
}

int PcomProcess::exitCode() const
{
    if (!m_finished || m_process.exitStatus() != QProcess::NormalExit)
        return -1;
    return m_process.exitCode();
}

int PcomProcess::numberAfter(const QByteArray &text) const
{
    const int at = m_err.indexOf(text);
    if (at < 0)
        return -1;
    int pos = at + text.size();
    int end = pos;
    while (end < m_err.size() && m_err.at(end) >= '0' && m_err.at(end) <= '9')
        ++end;
    bool ok = false;
    const int value = m_err.mid(pos, end - pos).toInt(&ok);
    return ok ? value : -1;
}

PcomProcess *PcomProcess::run(const QStringList &arguments)
{
    auto *p = new PcomProcess;
    p->start(arguments);
    p->closeStdin();
    p->waitForExit();
    return p;
}

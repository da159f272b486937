#include "tests/support/PcomProcess.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTimer>

PcomProcess::PcomProcess(QObject *parent)
    : QObject(parent)
{
    const auto collect = [this] {
        m_out += m_process.readAllStandardOutput();
        m_err += m_process.readAllStandardError();
    };
    connect(&m_process, &QProcess::readyReadStandardOutput, this, collect);
    connect(&m_process, &QProcess::readyReadStandardError, this, collect);
    connect(&m_process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), this, [this, collect] {
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

bool PcomProcess::waitFor(const std::function<bool()> &done, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    QEventLoop loop;
    connect(&m_process, &QProcess::readyReadStandardOutput, &loop, &QEventLoop::quit);
    connect(&m_process, &QProcess::readyReadStandardError, &loop, &QEventLoop::quit);
    connect(&m_process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), &loop, &QEventLoop::quit);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    while (!done() && !m_finished && !deadline.hasExpired())
        loop.exec();
    return done();
}

int PcomProcess::exitCode() const
{
    return m_finished && m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
}

int PcomProcess::numberAfter(const QByteArray &text) const
{
    const int at = m_err.indexOf(text);
    const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("^\\d+")).match(QString::fromLatin1(m_err.mid(at + text.size(), 12)));
    return at >= 0 && m.hasMatch() ? m.captured().toInt() : -1;
}

PcomProcess *PcomProcess::run(const QStringList &arguments)
{
    auto *p = new PcomProcess;
    p->start(arguments);
    p->closeStdin();
    p->waitForExit();
    return p;
}

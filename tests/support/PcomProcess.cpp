#include "tests/support/PcomProcess.h"

#include "tests/support/EventWait.h"

#include <QProcessEnvironment>
#include <QRegularExpression>

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

// Ended here rather than by QProcess, which would warn; both calls do
// nothing once it ended.
PcomProcess::~PcomProcess()
{
    m_process.kill();
    m_process.waitForFinished(5000);
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
    EventWait::until([&] { return m_finished || done(); }, timeoutMs);
    return done();
}

int PcomProcess::numberAfter(const QByteArray &text) const
{
    const int at = m_err.indexOf(text);
    const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("^\\d+")).match(QString::fromLatin1(m_err.mid(at + text.size(), 12)));
    return at >= 0 && m.hasMatch() ? m.captured().toInt() : -1;
}

quint16 PcomProcess::serverPort() const
{
    static const QRegularExpression line(QStringLiteral("Server running on IP \\S+, port (\\d+)"));
    return quint16(line.match(QString::fromUtf8(m_err)).captured(1).toUInt());
}

PcomProcess *PcomProcess::run(const QStringList &arguments)
{
    auto *p = new PcomProcess;
    p->start(arguments);
    p->closeStdin();
    p->waitForExit();
    return p;
}

#pragma once

#include <QByteArray>
#include <QObject>
#include <QProcess>
#include <QStringList>

#include <csignal>
#include <functional>

// The built pcom run as a child process, with bounded waits on what it
// prints and on its end.
class PcomProcess : public QObject
{
    Q_OBJECT
public:
    explicit PcomProcess(QObject *parent = nullptr);
    ~PcomProcess() override;

    void start(const QStringList &arguments);
    // Starts it and waits until it says that its ports are open.
    bool startOpened(const QStringList &arguments) { start(arguments); return waitForStderr("progress: pcom: opened the"); }
    // Standard input from that file (a terminal, say) instead of a pipe;
    // before start().
    void setStandardInputFile(const QString &path) { m_process.setStandardInputFile(path); }
    void write(const QByteArray &data) { m_process.write(data); }
    void closeStdin() { m_process.closeWriteChannel(); }
    // What was written to its standard input and has not yet gone into the pipe.
    qint64 inputWaiting() const { return m_process.bytesToWrite(); }
    void terminate() { m_process.terminate(); }
    void interrupt() { signal(SIGINT); }
    void hangUp() { signal(SIGHUP); }
    qint64 processId() const { return m_process.processId(); }

    // Wait until standard error / output holds `text`, the process ended, or
    // the time ran out.
    bool waitForStderr(const QByteArray &text, int timeoutMs = 10000) { return waitFor([&] { return m_err.contains(text); }, timeoutMs); }
    bool waitForStdout(const QByteArray &text, int timeoutMs = 10000) { return waitFor([&] { return m_out.contains(text); }, timeoutMs); }
    bool waitForExit(int timeoutMs = 15000) { return waitFor([&] { return m_finished; }, timeoutMs); }

    QByteArray out() const { return m_out; }
    QByteArray err() const { return m_err; }
    // The exit status, or -1 while running or when it crashed.
    int exitCode() const
    {
        return m_finished && m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
    }
    // The number in "text<number>" in standard error, or -1.
    int numberAfter(const QByteArray &text) const;
    // Where its first TCP server listens, from the server's log line; 0 if nowhere.
    quint16 serverPort() const;
    // SIGTERM, then the exit status once it ended.
    int stop() { terminate(); waitForExit(); return exitCode(); }
    // Runs to the end with standard input closed.
    static PcomProcess *run(const QStringList &arguments);

private:
    void signal(int number) { if (processId() > 0) ::kill(pid_t(processId()), number); }
    bool waitFor(const std::function<bool()> &done, int timeoutMs);

    QProcess m_process;
    QByteArray m_out;
    QByteArray m_err;
    bool m_finished = false;
};

#include "bench/BenchConfig.h"
#include "bench/BenchLog.h"
#include "bench/BridgeBench.h"
#include "bench/TlsBench.h"
#include "bench/CanBench.h"
#include "bench/SocketcandBench.h"
#ifdef PCOM_BENCH_GUI
#include "bench/GuiBench.h"
#include <QApplication>
#endif
#include "bench/MemoryBench.h"
#include "bench/MqttBench.h"
#include "bench/PluginPorts.h"
#include "bench/PropertyBench.h"
#include "bench/Report.h"
#include "bench/SerialBench.h"
#include "bench/TcpBench.h"
#include "bench/UdpBench.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>

// The command-line host, when this build tree has it (see CMakeLists.txt).
#ifndef PCOM_BENCH_PCOM
#define PCOM_BENCH_PCOM ""
#endif

int main(int argc, char *argv[])
{
#ifdef PCOM_BENCH_GUI
    // The gui suite needs widgets; no display is needed for them.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
#else
    QCoreApplication app(argc, argv);
#endif
    QCoreApplication::setApplicationName(QStringLiteral("pcom_bench"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Measures every data path through the plug-in's ports against the raw Qt objects they wrap, "
        "the kernel and socat, and prints plug-in / baseline ratios."));
    parser.addHelpOption();
    const QCommandLineOption quick(QStringLiteral("quick"), QStringLiteral("Less work per figure; under a minute."));
    const QCommandLineOption json(QStringLiteral("json"), QStringLiteral("Also write the figures as JSON to FILE."),
                                  QStringLiteral("FILE"));
    const QCommandLineOption only(QStringLiteral("only"),
                                  QStringLiteral("Run only these suites (comma-separated): "
                                                 "tcp, udp, serial, can, bridge, tls, socketcand, property, memory, mqtt, gui."),
                                  QStringLiteral("LIST"));
    const QCommandLineOption repetitions(QStringLiteral("repetitions"),
                                         QStringLiteral("Repetitions of each figure."), QStringLiteral("N"));
    const QCommandLineOption pcom(QStringLiteral("pcom"), QStringLiteral("The pcom binary for the bridge suite."),
                                  QStringLiteral("FILE"));
    const QCommandLineOption verbose(QStringLiteral("verbose"),
                                     QStringLiteral("Show the plug-in's log lines on standard error."));
    // The memory suite runs each measurement in a fresh process of its own.
    QCommandLineOption memoryProbe(QStringLiteral("memory-probe"), QStringLiteral("Internal."),
                                   QStringLiteral("KIND:SIDE:COUNT"));
    memoryProbe.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOptions({quick, json, only, repetitions, pcom, verbose, memoryProbe});
    parser.process(app);

    if (parser.isSet(memoryProbe)) {
        BenchLog quiet(false);
        return MemoryBench::probe(parser.value(memoryProbe));
    }

    BenchConfig config = parser.isSet(quick) ? BenchConfig::quickConfig() : BenchConfig::full();
    if (parser.isSet(only)) {
        const QStringList suites{QStringLiteral("tcp"),        QStringLiteral("udp"),      QStringLiteral("serial"),
                                 QStringLiteral("can"),        QStringLiteral("bridge"),   QStringLiteral("tls"),
                                 QStringLiteral("socketcand"), QStringLiteral("property"), QStringLiteral("memory"),
                                 QStringLiteral("mqtt"),       QStringLiteral("gui")};
        config.only = parser.value(only).split(QLatin1Char(','), Qt::SkipEmptyParts);
        for (const QString &name : qAsConst(config.only)) {
            if (!suites.contains(name)) {
                std::fprintf(stderr, "pcom_bench: unknown suite '%s'; the suites are %s\n", qPrintable(name),
                             qPrintable(suites.join(QStringLiteral(", "))));
                return 2;
            }
        }
    }
    if (parser.isSet(repetitions))
        config.repetitions = qMax(1, parser.value(repetitions).toInt());
    config.pcomPath = parser.isSet(pcom) ? parser.value(pcom) : QString::fromUtf8(PCOM_BENCH_PCOM);

    BenchLog log(parser.isSet(verbose));
    Report report(config.quick);
    QElapsedTimer elapsed;
    elapsed.start();
    {
        PluginPorts ports;
        auto suite = [&](const char *name, auto &&runSuite) {
            if (!config.wants(QString::fromLatin1(name)))
                return;
            std::fprintf(stderr, "pcom_bench: %s...\n", name);
            report.add(runSuite());
        };
        suite("tcp", [&] { return TcpBench(config, ports, log).run(); });
        suite("udp", [&] { return UdpBench(config, ports, log).run(); });
        suite("serial", [&] { return SerialBench(config, ports, log).run(); });
        suite("can", [&] { return CanBench(config, ports, log).run(); });
        suite("bridge", [&] { return BridgeBench(config, QStringLiteral(PCOM_BENCH_PLUGIN)).run(); });
        suite("tls", [&] { return TlsBench(config, QStringLiteral(PCOM_BENCH_PLUGIN)).run(); });
        suite("socketcand", [&] { return SocketcandBench(config).run(); });
        suite("property", [&] { return PropertyBench(config, ports, log).run(); });
        suite("memory", [&] { return MemoryBench(config).run(); });
        suite("mqtt", [&] { return MqttBench(config).run(); });
#ifdef PCOM_BENCH_GUI
        suite("gui", [&] { return GuiBench(config, ports, log).run(); });
#endif
    }
    report.setLoadAtEnd();

    std::fputs(qPrintable(report.table()), stdout);
    std::printf("\n%.1f s in all\n", elapsed.elapsed() / 1000.0);
    std::fflush(stdout);
    if (parser.isSet(json) && !report.writeJson(parser.value(json))) {
        std::fprintf(stderr, "pcom_bench: cannot write %s\n", qPrintable(parser.value(json)));
        return 1;
    }
    if (report.anyFailed()) {
        std::fprintf(stderr, "pcom_bench: some measurements failed; see the notes\n");
        return 1;
    }
    return 0;
}

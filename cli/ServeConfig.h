#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// The configuration file of pcom serve, YAML:
//     bridges:
//       - name: line1
//         args: com device=/dev/ttyUSB0 baudrate=9600 -- tcpServer port=5000
//       - name: can0
//         args: [canBus, --can-plugin, virtualcan, "device=tcp://127.0.0.1:35468/can0", --, tcpServer, port=5001]
// Each bridge's args are what pcom bridge takes, as one line (split as a
// shell would split words in double quotes) or as a list of words; a bridge's
// `on-demand: true` adds --on-demand to them. Only the form is checked here;
// whether pcom bridge takes the words is the caller's.
class ServeConfig
{
public:
    struct Entry {
        QString name;
        QStringList arguments;
        int line = 0;
    };

    // Reads `text`, the contents of `fileName`; false with "FILE:LINE: reason"
    // in *error on a syntax error, an unknown or repeated key, a missing or
    // bad name or args, or a name used twice.
    static bool read(const QByteArray &text, const QString &fileName, QList<Entry> *entries, QString *error);

    // A larger file is refused before it is parsed.
    static const int maxFileSize = 1024 * 1024;
};

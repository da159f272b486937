// libFuzzer target: the reader of pcom serve's configuration files on
// arbitrary bytes. Beyond not failing, a refusal names the file and a line
// within it, and what it accepts reads back the same once written out again.

#include "cli/ServeConfig.h"
#include "tests/fuzz/FuzzCheck.h"

#include <QRegularExpression>
#include <QSet>

#include <yaml-cpp/yaml.h>

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray text(reinterpret_cast<const char *>(data), int(size));
    const int lines = text.count('\n') + 1;
    QList<ServeConfig::Entry> entries;
    QString error;
    if (!ServeConfig::read(text, QStringLiteral("fuzz.yaml"), &entries, &error)) {
        static const QRegularExpression located(QStringLiteral("^fuzz\\.yaml:(\\d+): ."));
        const QRegularExpressionMatch match = located.match(error);
        check(match.hasMatch());
        const int line = match.captured(1).toInt();
        check(line >= 1 && line <= lines + 1);
        return 0;
    }
    check(!entries.isEmpty());
    QSet<QString> names;
    for (const ServeConfig::Entry &entry : qAsConst(entries)) {
        check(!entry.arguments.isEmpty() && entry.line >= 1 && entry.line <= lines);
        names.insert(entry.name);
    }
    check(names.size() == entries.size());

    YAML::Emitter out;
    out << YAML::BeginMap << YAML::Key << "bridges" << YAML::Value << YAML::BeginSeq;
    for (const ServeConfig::Entry &entry : qAsConst(entries)) {
        out << YAML::BeginMap << YAML::Key << "name" << YAML::Value << entry.name.toStdString();
        out << YAML::Key << "args" << YAML::Value << YAML::Flow << YAML::BeginSeq;
        for (const QString &word : entry.arguments)
            out << YAML::DoubleQuoted << word.toStdString();
        out << YAML::EndSeq << YAML::EndMap;
    }
    out << YAML::EndSeq << YAML::EndMap;
    QList<ServeConfig::Entry> again;
    check(ServeConfig::read(QByteArray(out.c_str(), int(out.size())), QStringLiteral("again.yaml"), &again, &error));
    check(again.size() == entries.size());
    for (int i = 0; i < entries.size(); ++i)
        check(again.at(i).name == entries.at(i).name && again.at(i).arguments == entries.at(i).arguments);
    return 0;
}

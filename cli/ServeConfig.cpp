#include "cli/ServeConfig.h"

#include <QProcess>
#include <QTextCodec>
#include <QRegularExpression>

#include <yaml-cpp/yaml.h>

#include <optional>
#include <string>
#include <vector>

namespace {

// A problem at a line of the file, 1-based.
struct Refusal {
    int line;
    QString reason;
};

// The file is plain text: a control character, a byte order mark inside
// the text or a byte sequence that is no UTF-8 would reach a bridge's
// arguments as something other than what the file shows (or not at all).
// The first line that holds one, 0 when none does.
int unreadableLine(const QByteArray &text)
{
    QTextCodec *utf8 = QTextCodec::codecForName("UTF-8");
    const QList<QByteArray> lines = text.split('\n');
    for (int i = 0; i < lines.size(); ++i) {
        QTextCodec::ConverterState state(QTextCodec::IgnoreHeader);
        const QString line = utf8->toUnicode(lines.at(i).constData(), lines.at(i).size(), &state);
        bool bad = state.invalidChars > 0 || state.remainingChars > 0;
        for (int c = 0; c < line.size() && !bad; ++c) {
            const ushort u = line.at(c).unicode();
            bad = (u < 0x20 && u != '\t' && u != '\r') || u == 0x7F || u == 0xFFFE || u == 0xFFFF
                || (u == 0xFEFF && (i > 0 || c > 0));
        }
        if (bad)
            return i + 1;
    }
    return 0;
}

int lineOf(const YAML::Node &node)
{
    const YAML::Mark mark = node.Mark();
    return mark.line < 0 ? 1 : mark.line + 1;
}

QString textOf(const YAML::Node &node)
{
    return QString::fromStdString(node.Scalar());
}

// The value of each known key of a mapping, undefined where it is missing;
// an unknown or repeated key, or a key that is no plain word, is refused.
// (Nodes are copied, never assigned: assigning one yaml-cpp node to another
// rebinds what the first refers to.)
std::vector<YAML::Node> readKeys(const YAML::Node &map, const QStringList &known)
{
    std::vector<std::optional<YAML::Node>> found(size_t(known.size()));
    for (auto it = map.begin(); it != map.end(); ++it) {
        const YAML::Node key = it->first;
        const int index = key.IsScalar() ? known.indexOf(textOf(key)) : -1;
        if (index < 0) {
            throw Refusal{lineOf(key), QStringLiteral("unknown key%1 (expected %2)")
                                           .arg(key.IsScalar() ? QStringLiteral(" '%1'").arg(textOf(key)) : QString(),
                                                known.join(QStringLiteral(", ")))};
        }
        if (found[size_t(index)])
            throw Refusal{lineOf(key), QStringLiteral("'%1' given twice").arg(known.at(index))};
        found[size_t(index)].emplace(it->second);
    }
    std::vector<YAML::Node> values;
    for (const std::optional<YAML::Node> &value : found)
        values.push_back(value ? *value : YAML::Node(YAML::NodeType::Undefined));
    return values;
}

QStringList argumentsOf(const YAML::Node &args, const QString &name, int bridgeLine)
{
    QStringList words;
    if (args.IsScalar()) {
        words = QProcess::splitCommand(textOf(args));
    } else if (args.IsSequence()) {
        for (const YAML::Node &word : args) {
            if (!word.IsScalar())
                throw Refusal{lineOf(word), QStringLiteral("bridge '%1': each word of args is a plain value").arg(name)};
            words.append(textOf(word));
        }
    } else if (args.IsDefined() && !args.IsNull()) {
        throw Refusal{lineOf(args), QStringLiteral("bridge '%1': args is a line or a list of words").arg(name)};
    }
    if (words.isEmpty())
        throw Refusal{args.IsDefined() ? lineOf(args) : bridgeLine, QStringLiteral("bridge '%1' has no args").arg(name)};
    return words;
}

QList<ServeConfig::Entry> entriesOf(const YAML::Node &root)
{
    if (!root.IsMap())
        throw Refusal{lineOf(root), QStringLiteral("expected 'bridges:' with a list of bridges")};
    const YAML::Node bridges = readKeys(root, {QStringLiteral("bridges")}).at(0);
    if (!bridges.IsSequence() || bridges.size() == 0)
        throw Refusal{lineOf(bridges.IsDefined() ? bridges : root), QStringLiteral("'bridges' is a list of bridges, "
                                                                                   "each with a name and args")};
    static const QRegularExpression goodName(QStringLiteral("^[A-Za-z0-9_.-]{1,64}$"));
    QList<ServeConfig::Entry> entries;
    for (const YAML::Node &bridge : bridges) {
        const int line = lineOf(bridge);
        if (!bridge.IsMap())
            throw Refusal{line, QStringLiteral("a bridge is a mapping with a name and args")};
        const std::vector<YAML::Node> values =
            readKeys(bridge, {QStringLiteral("name"), QStringLiteral("args"), QStringLiteral("on-demand")});
        const YAML::Node name = values.at(0);
        if (!name.IsDefined())
            throw Refusal{line, QStringLiteral("a bridge without a name")};
        if (!name.IsScalar() || !goodName.match(textOf(name)).hasMatch())
            throw Refusal{lineOf(name), QStringLiteral("a bridge name is 1 to 64 letters, digits, '.', '_' or '-'")};
        ServeConfig::Entry entry{textOf(name), QStringList(), line};
        for (const ServeConfig::Entry &before : qAsConst(entries)) {
            if (before.name == entry.name)
                throw Refusal{lineOf(name), QStringLiteral("bridge name '%1' used twice (first on line %2)")
                                                .arg(entry.name)
                                                .arg(before.line)};
        }
        entry.arguments = argumentsOf(values.at(1), entry.name, line);
        // A switch of the file's own for the option that serial device servers' users look for first.
        const YAML::Node onDemand = values.at(2);
        const QString demand = onDemand.IsScalar() ? textOf(onDemand) : QString();
        if (onDemand.IsDefined() && demand != QLatin1String("true") && demand != QLatin1String("false"))
            throw Refusal{lineOf(onDemand), QStringLiteral("bridge '%1': on-demand is true or false").arg(entry.name)};
        if (demand == QLatin1String("true"))
            entry.arguments << QStringLiteral("--on-demand");
        entries.append(entry);
    }
    return entries;
}

} // namespace

bool ServeConfig::read(const QByteArray &text, const QString &fileName, QList<Entry> *entries, QString *error)
{
    Refusal refusal{1, QString()};
    try {
        if (text.size() > maxFileSize)
            throw Refusal{1, QStringLiteral("larger than %1 bytes").arg(maxFileSize)};
        if (const int line = unreadableLine(text))
            throw Refusal{line, QStringLiteral("not plain UTF-8 text (a control character or an invalid byte sequence)")};
        *entries = entriesOf(YAML::Load(text.toStdString()));
        return true;
    } catch (const Refusal &r) {
        refusal = r;
    } catch (const YAML::Exception &e) {
        refusal = Refusal{e.mark.line < 0 ? 1 : e.mark.line + 1, QString::fromStdString(e.msg)};
    } catch (const std::exception &e) {
        refusal = Refusal{1, QString::fromLocal8Bit(e.what())};
    }
    *error = QStringLiteral("%1:%2: %3").arg(fileName).arg(refusal.line).arg(refusal.reason);
    return false;
}

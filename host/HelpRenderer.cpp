#include "host/HelpRenderer.h"

#include "host/Plugin_Com_Device.h"
#include "host/Version.h"

#include <QFile>
#include <QRegularExpression>

namespace {

bool readFile(const QString &path, QByteArray *data)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    *data = file.readAll();
    return true;
}

QString iconElement(const QString &path)
{
    QByteArray png;
    if (!readFile(path, &png) || png.isEmpty())
        return QString();
    return QStringLiteral("<img src=\"data:image/png;base64,%1\" alt=\"\"/>")
        .arg(QString::fromLatin1(png.toBase64()));
}

} // namespace

QString HelpRenderer::fillPlaceholders(const QString &templ, const QHash<QString, QString> &values)
{
    static const QRegularExpression placeholder(QStringLiteral("\\$\\{(\\w+)\\}"));
    QString out;
    int from = 0;
    QRegularExpressionMatchIterator it = placeholder.globalMatch(templ);
    while (it.hasNext()) {
        const QRegularExpressionMatch match = it.next();
        const auto value = values.constFind(match.captured(1));
        if (value == values.constEnd())
            continue;
        out += templ.midRef(from, match.capturedStart() - from);
        out += *value;
        from = match.capturedEnd();
    }
    out += templ.midRef(from);
    return out;
}

QString HelpRenderer::render(Plugin_Com_Device *device, const Version &version)
{
    if (!device)
        return QString();
    QByteArray mainPage;
    if (!readFile(device->getDocMainPath(), &mainPage))
        return QString();
    QByteArray brief;
    readFile(device->getDocBriefPath(), &brief);

    const QString name = device->name().toHtmlEscaped();
    QHash<QString, QString> values;
    values.insert(QStringLiteral("name"), name);
    values.insert(QStringLiteral("icon"), iconElement(device->getIconPath()));
    // The brief is an HTML fragment of its own; only its line end goes.
    values.insert(QStringLiteral("brief"), QString::fromUtf8(brief).trimmed());
    values.insert(QStringLiteral("properties"), device->getChildPropertyDoc(version));

    QString page;
    page += QStringLiteral("<!DOCTYPE html>\r\n<html>\r\n<head>\r\n<meta charset=\"utf-8\">\r\n");
    page += QStringLiteral("<title>%1</title>\r\n</head>\r\n<body>\r\n").arg(name);
    page += fillPlaceholders(QString::fromUtf8(mainPage), values);
    page += QStringLiteral("\r\n</body>\r\n</html>\r\n");
    return page;
}

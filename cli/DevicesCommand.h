#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// pcom [devices]: every device of the plug-in with its type key, name,
// brief and what it can connect to now.
class DevicesCommand
{
public:
    // `arguments`: the program name, the command word, the rest.
    static int run(const QStringList &arguments);

    // The text of an HTML fragment on one line: tags dropped, the common
    // entities decoded, white space folded.
    static QString plainText(const QString &html);
};

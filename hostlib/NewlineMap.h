#pragma once

#include <QByteArray>
#include <QString>

// Line-end translations in each direction, named as the terminal driver's
// (stty) flags: received ("i": what the port read, before it is shown)
//   icrnl  CR becomes LF        inlcr  LF becomes CR       igncr  CR is dropped
// and sent ("o": what goes to the port)
//   ocrnl  CR becomes LF        onlcr  LF becomes CR LF
// ocrnl applies before onlcr, so that "ocrnl,onlcr" sends CR LF for the CR
// of a terminal's Enter key.
class NewlineMap
{
public:
    // A comma-separated list of the names above; false, with the reason,
    // for an unknown name.
    bool parse(const QString &list, QString *error);

    bool isEmpty() const { return m_flags == 0; }
    QByteArray received(const QByteArray &data) const;
    QByteArray sent(const QByteArray &data) const;

    static const char names[];

private:
    enum Flag { Icrnl = 1, Inlcr = 2, Igncr = 4, Ocrnl = 8, Onlcr = 16 };
    int m_flags = 0;
};

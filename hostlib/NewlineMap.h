#pragma once

#include <QByteArray>
#include <QString>

// Line-end and control-byte translations in each direction, named as the
// terminal driver's (stty) flags where it has one, else as picocom's maps:
// received ("i": what the port read, before it is shown)
//   icrnl  CR becomes LF        inlcr  LF becomes CR       igncr  CR is dropped
//   ignlf  LF is dropped        crcrlf CR becomes CR LF
//   ctlhex control bytes other than CR, LF and TAB (and DEL) show as [1b]
// and sent ("o": what goes to the port)
//   ocrnl  CR becomes LF        onlcr  LF becomes CR LF
//   delbs  DEL becomes BS       bsdel  BS becomes DEL
// ocrnl applies before onlcr, so that "ocrnl,onlcr" sends CR LF for the CR
// of a terminal's Enter key; the received drops before the rest.
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
    enum Flag {
        Icrnl = 1,
        Inlcr = 2,
        Igncr = 4,
        Ocrnl = 8,
        Onlcr = 16,
        Ignlf = 32,
        Crcrlf = 64,
        Ctlhex = 128,
        Delbs = 256,
        Bsdel = 512,
        Received = Icrnl | Inlcr | Igncr | Ignlf | Crcrlf | Ctlhex,
    };
    int m_flags = 0;
};

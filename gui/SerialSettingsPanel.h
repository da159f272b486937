#pragma once

#include <QWidget>

class PCom_SerialLine;
class QCheckBox;
class QComboBox;
class QLabel;
class QTimer;

// A serial line's settings beyond device and speed, through the port's
// PCom_SerialLine face: data bits, parity, stop bits, flow control, DTR
// and RTS, the break state and a short break, and the modem lines, read
// every half second while the line has them. Each control shows the value in force: a refused
// setting goes back and the line's reason is shown.
class SerialSettingsPanel : public QWidget
{
    Q_OBJECT
public:
    explicit SerialSettingsPanel(PCom_SerialLine *line, QWidget *parent = nullptr);

    // Reads everything back from the line.
    void refresh();
    QString message() const;
    QComboBox *dataBits() const { return m_dataBits; }
    QComboBox *parity() const { return m_parity; }
    QComboBox *stopBits() const { return m_stopBits; }
    QString modemText() const;

private:
    void apply(bool ok, const QString &reason);

    PCom_SerialLine *m_line;
    QComboBox *m_dataBits;
    QComboBox *m_parity;
    QComboBox *m_stopBits;
    QComboBox *m_flow;
    QCheckBox *m_dtr;
    QCheckBox *m_rts;
    QCheckBox *m_break;
    QLabel *m_modem;
    QLabel *m_message;
    QTimer *m_poll;
};

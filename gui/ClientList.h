#pragma once

#include <QListWidget>

class PCom_ServedClients;
struct PCom_ClientInfo;

// The clients of a TCP server port, from its PCom_ServedClients face: one
// row each, "N  address:port", kept as they join and leave; the face's
// listening port and client count in words for the terminal's state.
class ClientList : public QListWidget
{
    Q_OBJECT
public:
    explicit ClientList(PCom_ServedClients *clients, QWidget *parent = nullptr);

    // "client 2 (127.0.0.1:40000)", or "client 2" when it left already.
    QString nameOf(int id) const;
    QString summary() const;

signals:
    void changed();

private:
    void refill();

    PCom_ServedClients *m_clients;
};

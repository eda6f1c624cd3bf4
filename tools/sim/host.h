// The simulated modules on the network: one UDP socket on the modules' port, shared by all the
// modules of this process; every datagram is offered to each module, and each reply is broadcast.
#pragma once

#include "faults.h"
#include "options.h"

#include <QObject>
#include <QTextStream>
#include <QUdpSocket>

#include <vector>

namespace tarvik::sim {

class Host : public QObject
{
    Q_OBJECT

public:
    Host(Options options, QTextStream& out, QObject* parent = nullptr);

    // Binds the port, shared with other simulators and listeners on this machine, and prints the
    // modules and "ready". false and `error` when the port cannot be bound.
    bool start(QString* error);

    const std::vector<FaultyModule>& modules() const { return m_modules; }

private:
    void readPending();
    void take(const QByteArray& datagram);
    void send(const FaultyModule& module, const QByteArray& bytes);
    void print(const QString& line);
    QString note(const FaultyModule& module, const QString& text) const;

    Options m_options;
    QTextStream& m_out;
    QUdpSocket m_socket;
    std::vector<FaultyModule> m_modules;
};

// True when this process has a network namespace of its own (not that of PID 1): then nothing it
// sends can reach the machine's real network. Otherwise `why` says why not.
bool insidePrivateNetworkNamespace(QString* why = nullptr);

} // namespace tarvik::sim

#pragma once

#include <QHostAddress>
#include <QString>
#include <QStringList>

// An address and port to listen on, as given: "127.0.0.1:4777",
// "[::1]:8477", "0.0.0.0:8477", "localhost:8477".
struct ListenAddress {
    QHostAddress host;
    quint16 port = 0;

    // Nothing, with host null, when the text is not an address and a port.
    static ListenAddress parse(const QString& text);
    bool loopback() const { return host.isLoopback(); }
    // Every address of the machine ("0.0.0.0", "::").
    bool wildcard() const {
        return host == QHostAddress::Any || host == QHostAddress::AnyIPv4 ||
               host == QHostAddress::AnyIPv6;
    }
    // "host:port", IPv6 hosts in brackets, as a URL writes it.
    QString text() const;
};

// What tessaly-room's command line asks for.
struct RoomOptions {
    ListenAddress link{QHostAddress(QHostAddress::LocalHost), 4777};
    ListenAddress page{QHostAddress(QHostAddress::LocalHost), 8477};
    bool startEngines = true;
    int recorders = 1;       // children started, each its own instance
    QString engine;          // the tessaly program; empty: the one beside this program
    QStringList engineArgs;  // everything after "--"
    bool help = false;
    bool version = false;
    QString error;  // a switch with a value it cannot use

    static RoomOptions parse(const QStringList& arguments);
};

QString roomUsage();

#pragma once

#include <QString>
#include <QStringList>

// Moves the calling thread (and so the capture threads and the processes it starts later) into
// a network namespace of its own, with only its own loopback up. Adapters made there exist
// nowhere else, so a test can add and delete links and send to any address in it without
// reaching a real network or disturbing other captures on the machine. The destructor returns
// to the namespace the thread came from; the private one, with every link in it, goes away
// with its last socket, and with the process at the latest, whatever the test's outcome.
// Needs root and the "ip" tool; error() says why not when they are missing.
class PrivateNetwork
{
public:
    PrivateNetwork();
    ~PrivateNetwork();
    PrivateNetwork(const PrivateNetwork&) = delete;
    PrivateNetwork& operator=(const PrivateNetwork&) = delete;

    // Empty when the thread is in its private namespace.
    QString error() const { return m_error; }

    // Runs "ip" with the arguments; returns an empty text on success, else its output.
    QString ip(const QStringList& arguments) const;

private:
    QString m_ip;
    QString m_error;
    int m_original = -1;
};

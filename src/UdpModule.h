#pragma once

#include "UdpReceiveThread.h"

#include <QObject>
#include <QString>
#include <string>

#include <atomic>
#include <cstddef>
#include <memory>
#include <vector>

class QByteArray;
class QTimer;

// One UDP exchange at a time: a run binds the reply port, broadcasts the
// owner's requests, hands every datagram that arrives to the owner and ends
// after a fixed listening time or when the owner stops it. It knows nothing of
// the message formats.
//
// A broadcast to 255.255.255.255 leaves through one interface only, the one
// the routing table picks, so each request is sent on every interface that
// can broadcast (or on the one the owner names). Replies are drained by a
// receive thread as fast as they arrive and reach the owner in the GUI thread,
// in arrival order, both a batch at a time (with the interface each came in
// on) and one by one: an owner connects to the form it needs. Each run has a
// socket of its own.
class UdpModuleWithTimer final : public QObject {
    Q_OBJECT
public:
    static constexpr quint16 kListenPort = 49077;
    static constexpr quint16 kDevicePort = 49076;
    static constexpr int kListenTimeMs = 3000;
    // Interface index that asks SendBroadcast for every interface.
    static constexpr int kAllInterfaces = 0;

    explicit UdpModuleWithTimer(QObject* parent);
    ~UdpModuleWithTimer() override;
    Q_DISABLE_COPY(UdpModuleWithTimer)

    // Why the current or last run could not listen on the reply port: the
    // socket's error text, or that another program (a second copy of the tool
    // among them) listens on it; empty when it is listening. A run that
    // cannot listen sends nothing and still ends with Stopped(), but no reply
    // can reach it, so its owner must not take the silence for "no device
    // answered".
    QString ListenError() const { return listenError_; }
    // Why a request of the current or last run could not be sent on any
    // interface (for example no route to the broadcast address): the
    // socket's error text, empty when every request went out somewhere.
    QString SendError() const { return sendError_; }

    // The listening time of the runs that start after this call (kListenTimeMs
    // until then).
    void SetListenTimeMs(int listenTimeMs);

signals:
    void DatagramsReceived(const DatagramBatch& batch);
    void DatagramReceived(const QByteArray& datagram);
    void Stopped();

public slots:
    void Start();
    void Stop();
    // Sends the datagram on the given interface when it can still broadcast,
    // otherwise on every one that can.
    void SendBroadcast(const QByteArray& datagram, int interfaceIndex = kAllInterfaces);
    // The same, logging `loggedForm` instead of the datagram's bytes: for a
    // request that carries secrets, its owner gives a dump with them masked.
    void SendBroadcast(const QByteArray& datagram, const std::string& loggedForm,
                       int interfaceIndex = kAllInterfaces);

private:
    bool IsRunning() const { return run_ != 0; }
    // Hands a batch of run `run` to the owner, unless that run has ended.
    void Deliver(quint64 run, const DatagramBatch& batch);
    // One send of the datagram on one interface (kAllInterfaces: where the
    // routing table sends it); the error text when it fails.
    bool SendOn(int interfaceIndex, const QByteArray& datagram, QString& error);

    void CloseSockets();

    int socket_ = -1;                   // the current run's socket on the any-address; -1 while stopped
    std::vector<int> interfaceSockets_; // the run's sockets on each interface address
    quint64 run_ = 0;                   // the current run's number; 0 while stopped
    quint64 lastRun_ = 0;
    QTimer* timer_ = nullptr;
    std::unique_ptr<UdpReceiveThread> receiver_;
    // Bytes handed on by the receive thread and not yet delivered.
    std::shared_ptr<std::atomic<size_t>> backlogBytes_ = std::make_shared<std::atomic<size_t>>(0);
    QString listenError_;
    QString sendError_;
};

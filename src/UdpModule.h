#pragma once

#include <QObject>
#include <QString>
#include <string>

class QByteArray;
class QTimer;
class QUdpSocket;

// One UDP exchange at a time: a run binds the reply port, broadcasts the
// owner's requests, hands every datagram that arrives to the owner and ends
// after a fixed listening time or when the owner stops it. It knows nothing of
// the message formats. Lives in the GUI thread; each run has a socket of its
// own, deleted through the event loop when the run ends.
class UdpModuleWithTimer final : public QObject {
    Q_OBJECT
public:
    static constexpr quint16 kListenPort = 49077;
    static constexpr quint16 kDevicePort = 49076;
    static constexpr int kListenTimeMs = 3000;

    explicit UdpModuleWithTimer(QObject* parent);
    ~UdpModuleWithTimer() override;
    Q_DISABLE_COPY(UdpModuleWithTimer)

    // Why the current or last run could not listen on the reply port: the
    // socket's error text, empty when it is listening. A run that cannot
    // listen still ends with Stopped(), but no reply can reach it, so its
    // owner must not take the silence for "no device answered".
    QString ListenError() const { return listenError_; }
    // Why a request of the current or last run could not be sent (for
    // example no route to the broadcast address): the socket's error text,
    // empty when every request went out.
    QString SendError() const { return sendError_; }

signals:
    void DatagramReceived(const QByteArray& datagram);
    void Stopped();

public slots:
    void Start();
    void Stop();
    void SendBroadcast(const QByteArray& datagram);
    // The same, logging `loggedForm` instead of the datagram's bytes: for a
    // request that carries secrets, its owner gives a dump with them masked.
    void SendBroadcast(const QByteArray& datagram, const std::string& loggedForm);

private slots:
    void OnReadyRead();

private:
    QUdpSocket* mainSocket_ = nullptr; // the current run's socket; null while stopped
    QTimer* timer_ = nullptr;
    QString listenError_;
    QString sendError_;
};

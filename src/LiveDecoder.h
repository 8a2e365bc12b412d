#pragma once

#include "FrameHandOver.h"
#include "FrameTypes.h"

#include <QByteArray>
#include <QImage>
#include <QObject>
#include <QSize>
#include <QString>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

class DecodedPicture;
class H264AvDecoder;

// Decodes one connection's stream on a thread of its own and hands the GUI
// thread each picture as the image the views show, so that neither decoding
// nor the decoder's own threads ever hold the GUI thread up. The units wait
// in a bounded hand-over: when decoding falls behind, whole pictures are
// dropped up to the next key frame. Of the images, only the newest waits for
// the GUI thread.
//
// Owner: the live view, one per connection. Push, TakePicture and the
// destructor are for the GUI thread (where the object lives); the other
// methods are safe on any thread. The destructor stops the decoding thread,
// waits for the picture under way and drops every picture not taken.
class LiveDecoder final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY(LiveDecoder)
public:
    // `maxPictureSize`: larger pictures are scaled to it (the views' size).
    explicit LiveDecoder(QSize maxPictureSize);
    ~LiveDecoder() override;

    // Makes the H.264 decoder and starts the thread. False, with the text
    // to show, when the library has no H.264 decoder.
    bool Start(QString& errorMessage);

    void Push(const QByteArray& bytes, kro::UnitKind kind);

    // The newest picture not taken yet; null when there is none. A picture
    // taken is the one shown from then on.
    QImage TakePicture();

    // The own size of the picture taken last (the views' picture may be
    // scaled); empty before the first.
    QSize ShownPictureSize() const;
    // The picture taken last at its own size, as PictureToImage gives its
    // UYVY picture in QImage::Format_RGB888; null before the first or when
    // the conversion fails. Converted on the caller's thread from the
    // decoded planes kept with the picture, so it never waits for decoding.
    QImage ShownPictureAtOwnSize() const;

signals:
    // Emitted on the decoding thread, so queued: a picture waits to be
    // taken. Not emitted again until it has been taken.
    void PictureReady();

private:
    void Run();
    bool Stopping();

    const QSize maxPictureSize_;
    std::unique_ptr<H264AvDecoder> decoder_; // the decoding thread's alone once started
    FrameHandOver units_;
    std::thread thread_;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool unitsWaiting_ = false; // guarded by mutex_
    bool stop_ = false;         // guarded by mutex_
    // The picture waiting to be taken, its own size and its decoded planes;
    // guarded by mutex_.
    QImage picture_;
    QSize pictureSize_;
    std::shared_ptr<const DecodedPicture> pictureKept_;
    bool pictureSignalled_ = false; // guarded by mutex_
    // The same of the picture taken last; guarded by mutex_.
    QSize shownSize_;
    std::shared_ptr<const DecodedPicture> shownKept_;
};

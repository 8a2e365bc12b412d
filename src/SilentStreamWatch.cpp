#include "SilentStreamWatch.h"

#include "AssignmentVerifier.h"
#include "DrawableView.h"

namespace {

const AssignmentVerifier vf;

// Often enough for the seconds to count up evenly.
constexpr int kTickMs = 250;

} // namespace

SilentStreamWatch::SilentStreamWatch(std::vector<DrawableView*> views, QObject* parent)
    : QObject(parent), views_(std::move(views))
{
    tick_.setInterval(kTickMs);
    vf = connect(&tick_, SIGNAL(timeout()), this, SLOT(OnTick()));
}

SilentStreamWatch::~SilentStreamWatch() = default;

void SilentStreamWatch::Start()
{
    sincePicture_.start();
    limitReported_ = false;
    tick_.start();
}

void SilentStreamWatch::PictureShown()
{
    sincePicture_.start();
    limitReported_ = false;
    reconnecting_ = false;
    ShowText(QString());
}

void SilentStreamWatch::ShowReconnecting(const QString& reason)
{
    reconnecting_ = true;
    ShowText(tr("Reconnecting\u2026 (%1)").arg(reason));
}

void SilentStreamWatch::Stop()
{
    tick_.stop();
    reconnecting_ = false;
    ShowText(QString());
}

void SilentStreamWatch::OnTick()
{
    const qint64 silentMs = sincePicture_.elapsed();
    if (!reconnecting_ && silentMs >= kSilenceMs) {
        ShowText(tr("No video for %1 s").arg(silentMs / 1000));
    }
    if (!limitReported_ && silentMs >= kEndAfterMs) {
        limitReported_ = true;
        emit SilenceLimitReached();
    }
}

void SilentStreamWatch::ShowText(const QString& text)
{
    for (DrawableView* view : views_) {
        if (view->overlayText() != text) {
            view->setOverlayText(text);
            view->update();
        }
    }
}

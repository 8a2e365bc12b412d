#include "LiveViewActions.h"

#include "AssignmentVerifier.h"
#include "DeviceNetworkParams.h"
#include "LiveView.h"
#include "SnapshotFile.h"
#include "ui_SettingsDialog.h"

#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QSettings>
#include <QSignalBlocker>
#include <utility>

namespace {

const AssignmentVerifier vf;

// The tool's remembered choices (QSettings).
const char* const kSettingsOrganisation = "QEL";
const char* const kSettingsApplication = "QelIpTool";
const char* const kStreamInfoKey = "liveView/streamInfo";
const char* const kSnapshotFolderKey = "liveView/snapshotFolder";

LiveViewActions::SnapshotFolderAsker& FolderAsker()
{
    static LiveViewActions::SnapshotFolderAsker asker;
    return asker;
}

} // namespace

void LiveViewActions::SetSnapshotFolderAsker(SnapshotFolderAsker asker)
{
    FolderAsker() = std::move(asker);
}

LiveViewActions::LiveViewActions(QWidget* parent, Ui::SettingsDialog* form, LiveView* liveView,
                                 const DeviceNetworkParams& params)
    : QObject(parent), dialog_(parent), form_(form), liveView_(liveView), params_(params)
{
    vf = connect(form_->pushButtonSnapshot1, SIGNAL(clicked()), this, SLOT(Snapshot()));
    vf = connect(form_->pushButtonSnapshot2, SIGNAL(clicked()), this, SLOT(Snapshot()));
    vf = connect(liveView_, &LiveView::PicturesShown, this, [this] {
        form_->pushButtonSnapshot1->setEnabled(true);
        form_->pushButtonSnapshot2->setEnabled(true);
    });
    {
        const QSettings settings(QString::fromLatin1(kSettingsOrganisation),
                                 QString::fromLatin1(kSettingsApplication));
        SetStreamInfoShown(settings.value(QString::fromLatin1(kStreamInfoKey), true).toBool());
    }
    vf = connect(form_->checkBoxStreamInfo1, SIGNAL(toggled(bool)), this, SLOT(SetStreamInfoShown(bool)));
    vf = connect(form_->checkBoxStreamInfo2, SIGNAL(toggled(bool)), this, SLOT(SetStreamInfoShown(bool)));
    // While the video reconnects no box interrupts: the reason is in the
    // status line, as over the picture.
    vf = connect(liveView_, &LiveView::Reconnecting, this, [this](const QString& reason) {
        emit StatusChanged(tr("Reconnecting\u2026 (%1)").arg(reason));
    });
    vf = connect(liveView_, &LiveView::Reconnected, this,
                 [this] { emit StatusChanged(tr("Video reconnected")); });
}

void LiveViewActions::UpdateSnapshotButtons(bool connected)
{
    const bool pictures = connected && liveView_->IsShowingPictures();
    form_->pushButtonSnapshot1->setEnabled(pictures);
    form_->pushButtonSnapshot2->setEnabled(pictures);
}

void LiveViewActions::Snapshot()
{
    // The picture of the moment of the click: the stream goes on while the
    // folder is asked for.
    const QImage picture = liveView_->CurrentPicture();
    const QDateTime now = QDateTime::currentDateTime();
    if (picture.isNull()) {
        emit ErrorOccurred(tr("Snapshot not saved: no picture"));
        return;
    }
    QSettings settings(QString::fromLatin1(kSettingsOrganisation), QString::fromLatin1(kSettingsApplication));
    QString folder = settings.value(QString::fromLatin1(kSnapshotFolderKey)).toString();
    if (folder.isEmpty() || !QFileInfo(folder).isDir()) {
        folder = FolderAsker() ? FolderAsker()(dialog_)
                               : QFileDialog::getExistingDirectory(dialog_, tr("Folder for snapshots"),
                                                                   QDir::homePath());
        if (folder.isEmpty()) {
            return;
        }
        settings.setValue(QString::fromLatin1(kSnapshotFolderKey), folder);
    }
    const QString fileName = SnapshotFileName(QString::fromStdString(params_.deviceName),
                                              QString::fromStdString(IpTypeToString(params_.ip)), now);
    QString path;
    QString error;
    if (!SaveSnapshot(picture, folder, fileName, path, error)) {
        // The next snapshot asks again rather than failing the same way.
        settings.remove(QString::fromLatin1(kSnapshotFolderKey));
        emit ErrorOccurred(tr("Snapshot not saved to %1: %2")
                               .arg(QDir::toNativeSeparators(QDir(folder).filePath(fileName)), error));
        return;
    }
    emit StatusChanged(tr("Snapshot saved: %1").arg(QDir::toNativeSeparators(path)));
}

void LiveViewActions::SetStreamInfoShown(bool shown)
{
    // Both boxes show the one setting.
    {
        const QSignalBlocker blocker1(form_->checkBoxStreamInfo1);
        const QSignalBlocker blocker2(form_->checkBoxStreamInfo2);
        form_->checkBoxStreamInfo1->setChecked(shown);
        form_->checkBoxStreamInfo2->setChecked(shown);
    }
    liveView_->SetStreamInfoShown(shown);
    QSettings settings(QString::fromLatin1(kSettingsOrganisation), QString::fromLatin1(kSettingsApplication));
    if (settings.value(QString::fromLatin1(kStreamInfoKey), true).toBool() != shown) {
        settings.setValue(QString::fromLatin1(kStreamInfoKey), shown);
    }
}

#include "PlaceholderSettingsDialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QVBoxLayout>

PlaceholderSettingsDialog::PlaceholderSettingsDialog(const DeviceNetworkParams& params, QWidget* parent)
    : QDialog(parent), params_(params)
{
    setWindowTitle(tr("Settings"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(tr("Settings of %1 (%2) are not available yet.")
                                     .arg(QString::fromStdString(params_.deviceName),
                                          QString::fromStdString(IpTypeToString(params_.ip))),
                                 this));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

#include "TemplateBatchDialog.h"

#include "AssignmentVerifier.h"
#include "StringUtils.h"
#include "TemplateBatch.h"

#include <QFont>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace {

const AssignmentVerifier vf;

enum Column { kNameColumn, kMacColumn, kAddressColumn, kFirstPartColumn };

QTableWidgetItem* Cell(const QString& text)
{
    auto* item = new QTableWidgetItem(text);
    item->setFlags(item->flags() & ~Qt::ItemIsEditable);
    return item;
}

} // namespace

TemplateBatchDialog::TemplateBatchDialog(std::shared_ptr<const VcaConfigReader> tmpl,
                                         const QString& templateLabel, const TemplatePartChoice& choice,
                                         const std::vector<DeviceNetworkParams>& devices, QWidget* parent)
    : QDialog(parent), batch_(new TemplateBatch(std::move(tmpl), choice, devices, this))
{
    setObjectName(QStringLiteral("TemplateBatchDialog"));
    setWindowTitle(tr("Apply template"));

    const std::vector<TemplatePart>& parts = batch_->Parts();
    QStringList headers{tr("Device name"), tr("MAC address"), tr("IP address")};
    for (const TemplatePart part : parts) {
        headers << TemplatePartName(part);
    }
    table_ = new QTableWidget(static_cast<int>(devices.size()), headers.size(), this);
    table_->setObjectName(QStringLiteral("tableWidgetDevices"));
    table_->setHorizontalHeaderLabels(headers);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->horizontalHeader()->setStretchLastSection(true);
    for (int row = 0; row < table_->rowCount(); ++row) {
        const DeviceNetworkParams& device = devices[static_cast<size_t>(row)];
        table_->setItem(row, kNameColumn, Cell(QString::fromStdString(device.deviceName)));
        table_->setItem(row, kMacColumn,
                        Cell(QString::fromStdString(utils::GetPrintedBufferInHex(
                            device.mac, sizeof device.mac, sizeof device.mac, "-"))));
        table_->setItem(row, kAddressColumn, Cell(QString::fromStdString(IpTypeToString(device.ip))));
        for (int column = kFirstPartColumn; column < headers.size(); ++column) {
            table_->setItem(row, column, Cell(QString()));
        }
    }
    table_->resizeColumnsToContents();

    // The source device's name comes from the file: plain text.
    auto* named = new QLabel(tr("Template: %1").arg(templateLabel), this);
    named->setObjectName(QStringLiteral("labelTemplate"));
    named->setTextFormat(Qt::PlainText);
    named->setWordWrap(true);

    summary_ = new QLabel(this);
    summary_->setObjectName(QStringLiteral("labelSummary"));
    summary_->setTextFormat(Qt::PlainText);
    summary_->setWordWrap(true);

    cancel_ = new QPushButton(tr("Cancel"), this);
    cancel_->setObjectName(QStringLiteral("pushButtonCancel"));
    close_ = new QPushButton(tr("Close"), this);
    close_->setObjectName(QStringLiteral("pushButtonClose"));
    close_->setEnabled(false);
    cancel_->setAutoDefault(false);
    close_->setAutoDefault(false);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cancel_);
    buttons->addWidget(close_);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(named);
    layout->addWidget(table_);
    layout->addWidget(summary_);
    layout->addLayout(buttons);

    vf = connect(batch_, SIGNAL(EntryChanged(int)), this, SLOT(OnEntryChanged(int)));
    vf = connect(batch_, SIGNAL(Finished()), this, SLOT(OnBatchFinished()));
    vf = connect(cancel_, SIGNAL(clicked()), this, SLOT(OnCancelBatch()));
    vf = connect(close_, SIGNAL(clicked()), this, SLOT(accept()));
    resize(840, 420);

    ShowSummary(tr("Applying the template to %n device(s)...", "", table_->rowCount()), false);
    // Once the dialog's own event loop runs, so that every report reaches it.
    QTimer::singleShot(0, batch_, &TemplateBatch::Start);
}

TemplateBatchDialog::~TemplateBatchDialog() = default;

void TemplateBatchDialog::ShowSummary(const QString& text, bool isError)
{
    summary_->setStyleSheet(isError ? QStringLiteral("color: red") : QString());
    summary_->setText(text);
}

void TemplateBatchDialog::OnCancelBatch()
{
    if (batch_->IsRunning()) {
        cancel_->setEnabled(false);
        ShowSummary(tr("Cancelling after the device at work..."), false);
        batch_->Cancel();
    }
}

void TemplateBatchDialog::OnEntryChanged(int index)
{
    const TemplateEntry& entry = batch_->Entries().at(static_cast<size_t>(index));
    const bool working = entry.started && !entry.finished;
    for (size_t i = 0; i < entry.parts.size(); ++i) {
        const QString status = entry.parts[i].StatusText();
        table_->item(index, kFirstPartColumn + static_cast<int>(i))
            ->setText(working && status.isEmpty() ? tr("working\u2026") : status);
    }
    for (int column = 0; column < table_->columnCount(); ++column) {
        QTableWidgetItem* item = table_->item(index, column);
        QFont font = item->font();
        font.setBold(working);
        item->setFont(font);
    }
    if (working) {
        table_->selectRow(index);
        table_->scrollToItem(table_->item(index, kNameColumn));
    }
}

void TemplateBatchDialog::OnBatchFinished()
{
    cancel_->setEnabled(false);
    close_->setEnabled(true);
    table_->resizeColumnsToContents();
    bool allMatch = true;
    for (const TemplateEntry& entry : batch_->Entries()) {
        allMatch = allMatch && entry.Matches();
    }
    ShowSummary(batch_->Summary(), !allMatch);
}

void TemplateBatchDialog::reject()
{
    // Closing while the batch runs would hide how it ends: Escape or the
    // window's close button cancel it instead, and Close closes once it has
    // ended.
    if (batch_->IsRunning()) {
        OnCancelBatch();
        return;
    }
    QDialog::reject();
}

QString TemplateBatchDialog::Summary() const
{
    return batch_->IsFinished() ? batch_->Summary() : QString();
}

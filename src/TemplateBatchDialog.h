#pragma once

#include "DeviceNetworkParams.h"
#include "TemplateParts.h"

#include <QDialog>
#include <QString>
#include <memory>
#include <vector>

class QLabel;
class QPushButton;
class QTableWidget;
class TemplateBatch;
class VcaConfigReader;

// Applies a template to the devices it is given, one after another, from the
// moment it opens: the template named above (file and source device), a row
// per device with a column per chosen part that tells how the part fared
// ("matches", "failed: <reason>", "differs after apply"; "working…" while the
// device is at work, its row selected and bold), Cancel before the next
// device, and the batch's summary at the end. Modal, GUI thread.
class TemplateBatchDialog final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY(TemplateBatchDialog)
public:
    // `templateLabel` names the template to the user (TemplateLabel).
    TemplateBatchDialog(std::shared_ptr<const VcaConfigReader> tmpl, const QString& templateLabel,
                        const TemplatePartChoice& choice, const std::vector<DeviceNetworkParams>& devices,
                        QWidget* parent);
    ~TemplateBatchDialog() override;

    // The batch's summary; empty before it has ended.
    QString Summary() const;

public slots:
    void reject() override;

private slots:
    void OnCancelBatch();
    void OnEntryChanged(int index);
    void OnBatchFinished();

private:
    void ShowSummary(const QString& text, bool isError);

    TemplateBatch* batch_ = nullptr; // child
    QTableWidget* table_ = nullptr;
    QLabel* summary_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QPushButton* close_ = nullptr;
};

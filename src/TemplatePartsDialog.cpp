#include "TemplatePartsDialog.h"

#include "TemplateActions.h"

#include "AssignmentVerifier.h"
#include "ConfigTemplate.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <cmath>
#include <numeric>

namespace {

const AssignmentVerifier vf;

// Far above any real template: a zone point takes about 50 bytes of text.
constexpr qint64 kMaxTemplateBytes = 8 * 1024 * 1024;

// Aspects closer than this are the same picture shape: 720x576 and 704x576
// differ by a border of a few columns, not in where a zone falls; 5:4 and
// 4:3, the closest common shapes, differ by 6.7 %.
constexpr double kAspectTolerance = 0.05;

TemplateFileAsker& FileAsker()
{
    static TemplateFileAsker asker;
    return asker;
}

QString AspectText(const QSize& size)
{
    const int divisor = std::gcd(size.width(), size.height());
    return QStringLiteral("%1:%2").arg(size.width() / divisor).arg(size.height() / divisor);
}

QLabel* PlainLabel(const QString& text, const char* name, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    return label;
}

} // namespace

QString AskTemplateFile(QWidget* parent, bool save)
{
    if (FileAsker()) {
        return FileAsker()(parent, save);
    }
    const QString filter = TemplatePartsDialog::tr("Templates (*.txt);;All files (*)");
    // Each dialog opens where the user last saved or opened a template.
    const QString folder = TemplateFolder(save);
    return save ? QFileDialog::getSaveFileName(parent, TemplatePartsDialog::tr("Save template"),
                                               folder.isEmpty()
                                                   ? QStringLiteral("template.txt")
                                                   : QDir(folder).filePath(QStringLiteral("template.txt")),
                                               filter)
                : QFileDialog::getOpenFileName(parent, TemplatePartsDialog::tr("Apply template"), folder,
                                               filter);
}

void SetTemplateFileAsker(TemplateFileAsker asker)
{
    FileAsker() = std::move(asker);
}

bool ReadTemplateFile(const QString& path, QByteArray& text, std::unique_ptr<VcaConfigReader>& tmpl,
                      QString& error)
{
    tmpl.reset();
    const QString shown = QDir::toNativeSeparators(path);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error =
            TemplatePartsDialog::tr("The template %1 could not be read: %2").arg(shown, file.errorString());
        return false;
    }
    text = file.read(kMaxTemplateBytes + 1);
    if (text.size() > kMaxTemplateBytes) {
        error = TemplatePartsDialog::tr("The template %1 is too large to be a template").arg(shown);
        return false;
    }
    if (file.error() != QFileDevice::NoError) {
        error =
            TemplatePartsDialog::tr("The template %1 could not be read: %2").arg(shown, file.errorString());
        return false;
    }
    QString why;
    if (!ReadConfigTemplate(text, tmpl, why)) {
        error = TemplatePartsDialog::tr("The template %1 was refused: %2").arg(shown, why);
        return false;
    }
    return true;
}

bool OpenTemplateFile(QWidget* parent, QByteArray& text, std::unique_ptr<VcaConfigReader>& tmpl,
                      QString& error)
{
    error.clear();
    const QString path = AskTemplateFile(parent, false);
    return !path.isEmpty() && ReadTemplateFile(path, text, tmpl, error);
}

QString TemplateAspectWarning(const QSize& templateSize, const QSize& deviceSize)
{
    if (templateSize.isEmpty() || deviceSize.isEmpty()) {
        return {};
    }
    const double templateAspect = double(templateSize.width()) / templateSize.height();
    const double deviceAspect = double(deviceSize.width()) / deviceSize.height();
    if (std::abs(templateAspect - deviceAspect) <= kAspectTolerance * deviceAspect) {
        return {};
    }
    return TemplatePartsDialog::tr(
               "The template was taken from a %1 picture and this device's picture is %2; "
               "zones are relative and may not fit")
        .arg(AspectText(templateSize), AspectText(deviceSize));
}

TemplatePartsDialog::TemplatePartsDialog(QWidget* parent, const QString& warning) : QDialog(parent)
{
    setObjectName(QStringLiteral("TemplatePartsDialog"));
    setWindowTitle(tr("Apply template"));

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(PlainLabel(tr("Parts of the template to apply:"), "labelParts", this));
    const TemplatePartChoice defaults;
    const auto box = [this, layout](TemplatePart part, bool checked, const char* name) {
        auto* check = new QCheckBox(TemplatePartName(part), this);
        check->setObjectName(QString::fromLatin1(name));
        check->setChecked(checked);
        layout->addWidget(check);
        vf = connect(check, SIGNAL(toggled(bool)), this, SLOT(UpdateOk()));
        return check;
    };
    zones_ = box(TemplatePart::Zones, defaults.zones, "checkBoxZones");
    classifier_ = box(TemplatePart::Classifier, defaults.classifier, "checkBoxClassifier");
    encoder_ = box(TemplatePart::Encoder, defaults.encoder, "checkBoxEncoder");
    camera_ = box(TemplatePart::Camera, defaults.camera, "checkBoxCamera");
    QLabel* note = PlainLabel(tr("depends on how each camera is mounted"), "labelCameraNote", this);
    note->setIndent(20);
    layout->addWidget(note);
    if (!warning.isEmpty()) {
        QLabel* shown = PlainLabel(warning, "labelWarning", this);
        shown->setStyleSheet(QStringLiteral("color: #c80000"));
        layout->addWidget(shown);
    }

    buttons_ = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons_->setObjectName(QStringLiteral("buttonBox"));
    layout->addWidget(buttons_);
    vf = connect(buttons_, SIGNAL(accepted()), this, SLOT(accept()));
    vf = connect(buttons_, SIGNAL(rejected()), this, SLOT(reject()));
    UpdateOk();
}

TemplatePartsDialog::~TemplatePartsDialog() = default;

TemplatePartChoice TemplatePartsDialog::Choice() const
{
    TemplatePartChoice choice;
    choice.zones = zones_->isChecked();
    choice.classifier = classifier_->isChecked();
    choice.encoder = encoder_->isChecked();
    choice.camera = camera_->isChecked();
    return choice;
}

void TemplatePartsDialog::UpdateOk()
{
    buttons_->button(QDialogButtonBox::Ok)->setEnabled(!Choice().Chosen().empty());
}

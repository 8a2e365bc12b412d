#pragma once

#include "TemplateParts.h"

#include <QByteArray>
#include <QDialog>
#include <QSize>
#include <QString>
#include <functional>
#include <memory>

class QCheckBox;
class QDialogButtonBox;
class QLabel;

// The file a template is saved to (`save`) or read from, as the user picks
// it; empty when the user cancels. A file dialog unless replaced (tests
// cannot drive the platform's own).
QString AskTemplateFile(QWidget* parent, bool save);
using TemplateFileAsker = std::function<QString(QWidget* parent, bool save)>;
// Replaces the file dialog; an empty function brings it back.
void SetTemplateFileAsker(TemplateFileAsker asker);

// Reads a template file whole (it is refused past a size no template
// reaches) by ReadConfigTemplate's rule; false with a user text naming the
// file otherwise.
bool ReadTemplateFile(const QString& path, QByteArray& text, std::unique_ptr<VcaConfigReader>& tmpl,
                      QString& error);
// Asks for the template to apply and reads it by ReadTemplateFile's rule;
// false with an empty `error` when the user picked no file.
bool OpenTemplateFile(QWidget* parent, QByteArray& text, std::unique_ptr<VcaConfigReader>& tmpl,
                      QString& error);

// The warning of the part choice when the template's source picture and the
// target's picture differ in aspect: zones are stored relative to the
// picture, so a zone drawn on one shape lands elsewhere on the other. Empty
// when either size is not known or the aspects agree.
QString TemplateAspectWarning(const QSize& templateSize, const QSize& deviceSize);

// Which parts of a template to apply: zones, classifier and timeout and
// encoder checked, camera position unchecked (it depends on how each camera
// is mounted). OK is enabled only while a part is checked. Modal; a warning
// given to it is shown as plain text above the buttons.
class TemplatePartsDialog final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY(TemplatePartsDialog)
public:
    explicit TemplatePartsDialog(QWidget* parent, const QString& warning = {});
    ~TemplatePartsDialog() override;

    TemplatePartChoice Choice() const;

private slots:
    void UpdateOk();

private:
    QCheckBox* zones_ = nullptr;
    QCheckBox* classifier_ = nullptr;
    QCheckBox* encoder_ = nullptr;
    QCheckBox* camera_ = nullptr;
    QDialogButtonBox* buttons_ = nullptr;
};

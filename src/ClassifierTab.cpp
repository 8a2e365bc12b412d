#include "ClassifierTab.h"

#include <QLineEdit>
#include <QPushButton>

#include <cmath>
#include <easylogging++.h>

namespace {

// A field's number; false when the text is not a finite number.
bool ReadNumber(const QLineEdit* field, double& value)
{
    bool ok = false;
    value = field->text().toDouble(&ok);
    return ok && std::isfinite(value);
}

} // namespace

double getDoubleFromLabel(QLineEdit* field)
{
    // QString::toDouble reads the C locale's form, whatever the system locale.
    bool ok = false;
    const double value = field->text().toDouble(&ok);
    return ok ? value : 0;
}

int getIntFromLabel(QLineEdit* field)
{
    bool ok = false;
    const int value = field->text().toInt(&ok, 10);
    return ok ? value : 0;
}

ClassifierTab::ClassifierTab(QObject* dialog, HttpClientDialog* http, const Widgets& widgets)
    : DevicePage(dialog, http), timeout_(widgets.timeout), apply_(widgets.apply), rows_(widgets.rows)
{
    // Not verified: the page works without it being checked at start-up.
    connect(apply_, SIGNAL(clicked()), this, SLOT(OnApply()));
    apply_->setEnabled(false);
}

QString ClassifierTab::TakeConfig(const VcaConfigReader& reader)
{
    ClassifierValues classifier;
    QString errorMessage;
    if (!reader.ReadClassifier(classifier, errorMessage)) {
        return errorMessage;
    }
    if (!loaded_) {
        VLOG(1) << "Classifier loaded: timeout " << classifier.timeoutSeconds << ", classes "
                << classifier.classes.size();
        SetClassifier(classifier);
    }
    return {};
}

void ClassifierTab::SetClassifier(const ClassifierValues& values)
{
    timeout_->setText(QString::number(values.timeoutSeconds));
    for (size_t i = 0; i < rows_.size(); ++i) {
        QLineEdit* fields[] = {std::get<0>(rows_[i]), std::get<1>(rows_[i]), std::get<2>(rows_[i]),
                               std::get<3>(rows_[i])};
        if (i < values.classes.size()) {
            const ObjectClassValues& c = values.classes[i];
            const double numbers[] = {c.minArea, c.maxArea, c.minHeight, c.maxHeight};
            for (size_t f = 0; f < 4; ++f) {
                fields[f]->setText(QString::number(numbers[f]));
            }
        } else {
            for (QLineEdit* field : fields) {
                field->clear();
            }
        }
    }
    extraClasses_.clear();
    if (values.classes.size() > rows_.size()) {
        extraClasses_.assign(values.classes.begin() + static_cast<std::ptrdiff_t>(rows_.size()),
                             values.classes.end());
    }
    loaded_ = true;
    apply_->setEnabled(true);
}

ClassifierTab::~ClassifierTab() = default;

bool ClassifierTab::IsValidClass(double minArea, double maxArea, double minHeight, double maxHeight)
{
    return maxArea > 0 && maxArea > minArea && minHeight > 0 && maxHeight > minHeight;
}

std::vector<QString> ClassifierTab::ApplyCommands() const
{
    std::vector<QString> paths;
    const int timeout = getIntFromLabel(timeout_);
    if (timeout != 0) {
        paths.push_back(QStringLiteral("/qel-cgi/admin/setzonetimeout.fcgi?timeout=%1").arg(timeout));
    }
    paths.push_back(QStringLiteral("/qel-cgi/admin/vca.cgi?action=remove&group=VCA.Ch0.Obj*"));
    std::vector<ObjectClassValues> classes;
    for (const ClassRow& row : rows_) {
        classes.push_back({getDoubleFromLabel(std::get<0>(row)), getDoubleFromLabel(std::get<1>(row)),
                           getDoubleFromLabel(std::get<2>(row)), getDoubleFromLabel(std::get<3>(row))});
    }
    classes.insert(classes.end(), extraClasses_.begin(), extraClasses_.end());
    for (const ObjectClassValues& c : classes) {
        if (!IsValidClass(c.minArea, c.maxArea, c.minHeight, c.maxHeight)) {
            continue;
        }
        // arg(double) writes 'g' with six significant digits and a point.
        paths.push_back(QStringLiteral("/qel-cgi/admin/vca.cgi?action=add&group=VCA.Ch0&object=objectclass"
                                       "&minArea=%1&maxArea=%2&minHeight=%3&maxHeight=%4")
                            .arg(c.minArea)
                            .arg(c.maxArea)
                            .arg(c.minHeight)
                            .arg(c.maxHeight));
    }
    return paths;
}

QLineEdit* ClassifierTab::FindInvalidField(QString& message) const
{
    const QString timeoutText = timeout_->text();
    bool ok = false;
    if (!timeoutText.isEmpty() && (timeoutText.toInt(&ok, 10) < 0 || !ok)) {
        message = tr("Zone detection timeout (s.) must be a whole number of seconds above 0 "
                     "(0 or empty leaves it unchanged)");
        return timeout_;
    }
    int classNo = 0;
    for (const ClassRow& row : rows_) {
        ++classNo;
        QLineEdit* const fields[] = {std::get<0>(row), std::get<1>(row), std::get<2>(row), std::get<3>(row)};
        const char* const names[] = {QT_TR_NOOP("minimum area (m2.)"), QT_TR_NOOP("maximum area (m2.)"),
                                     QT_TR_NOOP("minimum height (m.)"), QT_TR_NOOP("maximum height (m.)")};
        bool allEmpty = true;
        for (const QLineEdit* field : fields) {
            allEmpty = allEmpty && field->text().isEmpty();
        }
        if (allEmpty) {
            continue;
        }
        double values[4] = {};
        for (int i = 0; i < 4; ++i) {
            if (!ReadNumber(fields[i], values[i])) {
                message = tr("Object class %1: the %2 is not a number").arg(classNo).arg(tr(names[i]));
                return fields[i];
            }
        }
        const double minArea = values[0];
        const double maxArea = values[1];
        const double minHeight = values[2];
        const double maxHeight = values[3];
        if (!(maxArea > 0 && maxArea > minArea)) {
            message = tr("Object class %1: the maximum area (m2.) must be above 0 and above the minimum area")
                          .arg(classNo);
            return fields[1];
        }
        if (!(minHeight > 0)) {
            message = tr("Object class %1: the minimum height (m.) must be above 0").arg(classNo);
            return fields[2];
        }
        if (!(maxHeight > minHeight)) {
            message =
                tr("Object class %1: the maximum height (m.) must be above the minimum height").arg(classNo);
            return fields[3];
        }
    }
    return nullptr;
}

void ClassifierTab::OnApply()
{
    // Every class is removed before the valid ones are added: a class that
    // cannot be sent would be lost on the device, so nothing goes out.
    QString message;
    QLineEdit* invalid = FindInvalidField(message);
    if (invalid != nullptr) {
        invalid->setFocus(Qt::OtherFocusReason);
        invalid->selectAll();
        emit ErrorOccurred(message);
        return;
    }
    SendCommands(
        tr("Applying the classifier settings"), ApplyCommands(), tr("Classifier settings were applied"),
        tr("Applying the classifier settings was cancelled; the device may hold part of the change"));
}

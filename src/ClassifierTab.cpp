#include "ClassifierTab.h"

#include "NumberText.h"
#include "PartState.h"
#include "VcaCommands.h"

#include <QLineEdit>
#include <QPushButton>

#include <algorithm>
#include <cmath>
#include <easylogging++.h>
#include <optional>

namespace {

// A field's number; false when the text is not a finite number.
bool ReadNumber(const QLineEdit* field, double& value)
{
    bool ok = false;
    value = field->text().toDouble(&ok);
    return ok && std::isfinite(value);
}

// A loaded class a row can show: one that its fields can hold and Apply
// would send as shown.
bool IsShowable(const ObjectClassValues& c)
{
    return std::isfinite(c.minArea) && std::isfinite(c.maxArea) && std::isfinite(c.minHeight) &&
           std::isfinite(c.maxHeight) &&
           ClassifierTab::IsValidClass(c.minArea, c.maxArea, c.minHeight, c.maxHeight);
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
    if (!loaded_ || reloadAsked_) {
        reloadAsked_ = false;
        deviceHoldsUnknown_ = reader.HoldsUnknownIn(ConfigArea::Classifier);
        VLOG(1) << "Classifier loaded: timeout " << classifier.timeoutSeconds << ", classes "
                << classifier.classes.size() << (reader.IsWhole() ? "" : ", read in part");
        SetClassifier(classifier);
        if (!reader.IsWhole()) {
            // What was read is shown; written back it could replace what was not.
            loaded_ = false;
            deviceKnown_ = false;
            apply_->setEnabled(false);
            apply_->setToolTip(tr("Not available: the device's configuration was read only in part"));
        }
    }
    return {};
}

void ClassifierTab::SetClassifier(const ClassifierValues& values)
{
    device_ = values;
    rowOf_.assign(values.classes.size(), -1);
    int shown = 0;
    for (size_t i = 0; i < values.classes.size() && static_cast<size_t>(shown) < rows_.size(); ++i) {
        if (IsShowable(values.classes[i])) {
            rowOf_[i] = shown++;
        }
    }
    timeout_->setText(QString::number(values.timeoutSeconds));
    for (size_t r = 0; r < rows_.size(); ++r) {
        QLineEdit* fields[] = {std::get<0>(rows_[r]), std::get<1>(rows_[r]), std::get<2>(rows_[r]),
                               std::get<3>(rows_[r])};
        for (QLineEdit* field : fields) {
            field->clear();
        }
        const auto it = std::find(rowOf_.begin(), rowOf_.end(), static_cast<int>(r));
        if (it != rowOf_.end()) {
            const ObjectClassValues& c = values.classes[static_cast<size_t>(it - rowOf_.begin())];
            const double numbers[] = {c.minArea, c.maxArea, c.minHeight, c.maxHeight};
            for (size_t f = 0; f < 4; ++f) {
                fields[f]->setText(ExactNumberText(numbers[f]));
            }
        }
    }
    const auto hidden = static_cast<int>(values.classes.size()) - shown;
    loaded_ = true;
    deviceKnown_ = true;
    apply_->setEnabled(true);
    apply_->setToolTip(
        hidden > 0 ? tr("Apply keeps the device's %n object class(es) this page cannot show", "", hidden)
                   : QString());
}

ClassifierTab::~ClassifierTab() = default;

bool ClassifierTab::IsValidClass(double minArea, double maxArea, double minHeight, double maxHeight)
{
    return maxArea > 0 && maxArea > minArea && minHeight > 0 && maxHeight > minHeight;
}

std::vector<ObjectClassValues> ClassifierTab::ClassesToKeep() const
{
    // Per row: its class, or none when the row is empty or cannot be sent.
    std::vector<std::optional<ObjectClassValues>> rowClasses;
    for (const ClassRow& row : rows_) {
        const ObjectClassValues c{getDoubleFromLabel(std::get<0>(row)), getDoubleFromLabel(std::get<1>(row)),
                                  getDoubleFromLabel(std::get<2>(row)), getDoubleFromLabel(std::get<3>(row))};
        rowClasses.push_back(IsValidClass(c.minArea, c.maxArea, c.minHeight, c.maxHeight)
                                 ? std::optional<ObjectClassValues>(c)
                                 : std::nullopt);
    }
    std::vector<bool> rowTaken(rows_.size(), false);
    std::vector<ObjectClassValues> classes;
    for (size_t i = 0; i < device_.classes.size(); ++i) {
        const int row = rowOf_[i];
        if (row < 0) {
            classes.push_back(device_.classes[i]);
            continue;
        }
        rowTaken[static_cast<size_t>(row)] = true;
        if (rowClasses[static_cast<size_t>(row)]) {
            classes.push_back(*rowClasses[static_cast<size_t>(row)]);
        }
    }
    for (size_t r = 0; r < rows_.size(); ++r) {
        if (!rowTaken[r] && rowClasses[r]) {
            classes.push_back(*rowClasses[r]);
        }
    }
    return classes;
}

std::vector<QString> ClassifierTab::ApplyCommands() const
{
    std::vector<QString> paths;
    const int timeout = getIntFromLabel(timeout_);
    if (timeout != 0 &&
        !(deviceKnown_ && timeout > 0 && static_cast<unsigned int>(timeout) == device_.timeoutSeconds)) {
        paths.push_back(ZoneTimeoutCommand(timeout));
    }
    const std::vector<ObjectClassValues> classes = ClassesToKeep();
    if (deviceKnown_ && SameClasses(classes, device_.classes)) {
        return paths;
    }
    paths.push_back(RemoveObjectClassesCommand());
    for (const ObjectClassValues& c : classes) {
        paths.push_back(AddObjectClassCommand(c));
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
    if (!loaded_) {
        return;
    }
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
    if (ApplyCommands().empty()) {
        emit StatusChanged(tr("Nothing to apply: the classifier settings were not changed."));
        return;
    }
    PartState device;
    device.part = TemplatePart::Classifier;
    device.classifier = device_;
    device.holdsUnknown = deviceHoldsUnknown_;
    PartState asked = device;
    asked.classifier.classes = ClassesToKeep();
    const int timeout = getIntFromLabel(timeout_);
    if (timeout > 0) {
        asked.classifier.timeoutSeconds = static_cast<unsigned int>(timeout);
    }
    if (deviceHoldsUnknown_ && !SameClasses(asked.classifier.classes, device_.classes)) {
        emit ErrorOccurred(
            tr("The device's object classes hold settings this version does not know; changing "
               "the classes would lose them, so nothing was sent"));
        return;
    }
    if (!MayApply()) {
        return;
    }
    WriteTexts texts;
    texts.action = tr("Applying the classifier settings");
    texts.what = QStringLiteral("classifier and zone timeout");
    texts.applied = tr("Classifier settings were applied");
    texts.noun = tr("classifier settings");
    texts.notApplied = tr("Classifier settings were not applied; nothing was sent");
    texts.reloaded = tr("The device's classifier settings were loaded again; nothing was sent");
    texts.pageNote =
        tr("The page shows the values the device holds; the changes that were not applied are dropped.");
    deviceKnown_ =
        WriteAndReport(TemplatePart::Classifier, texts, asked, deviceKnown_ ? &device : nullptr,
                       apply_->window(), [this](const VcaConfigReader& read) { TakeDevice(read); });
}

void ClassifierTab::TakeDevice(const VcaConfigReader& device)
{
    reloadAsked_ = true;
    TakeConfig(device);
}

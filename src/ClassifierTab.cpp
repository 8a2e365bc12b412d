#include "ClassifierTab.h"

#include <QLineEdit>
#include <QPushButton>

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

void ClassifierTab::OnApply()
{
    SendCommands(
        ApplyCommands(), tr("Classifier settings were applied"),
        tr("Applying the classifier settings was cancelled; the device may hold part of the change"));
}

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
    for (const ClassRow& row : rows_) {
        const double minArea = getDoubleFromLabel(std::get<0>(row));
        const double maxArea = getDoubleFromLabel(std::get<1>(row));
        const double minHeight = getDoubleFromLabel(std::get<2>(row));
        const double maxHeight = getDoubleFromLabel(std::get<3>(row));
        if (!IsValidClass(minArea, maxArea, minHeight, maxHeight)) {
            continue;
        }
        // arg(double) writes 'g' with six significant digits and a point.
        paths.push_back(QStringLiteral("/qel-cgi/admin/vca.cgi?action=add&group=VCA.Ch0&object=objectclass"
                                       "&minArea=%1&maxArea=%2&minHeight=%3&maxHeight=%4")
                            .arg(minArea)
                            .arg(maxArea)
                            .arg(minHeight)
                            .arg(maxHeight));
    }
    return paths;
}

void ClassifierTab::OnApply()
{
    SendCommands(ApplyCommands(), tr("Classifier settings were applied"));
}

#pragma once

#include "DevicePage.h"
#include "VcaConfigReader.h"

#include <QString>
#include <tuple>
#include <vector>

class HttpClientDialog;
class QLineEdit;
class QPushButton;

// A field's number, or 0 when its text is empty or not a number. The point
// is the decimal separator whatever the system locale.
double getDoubleFromLabel(QLineEdit* field);
int getIntFromLabel(QLineEdit* field);

// The classifier page: the zone detection timeout and up to four object
// classes (area and height ranges), written to the device on "Apply". The
// fields show the form's values until the device's are loaded. Changing the
// classes removes every class on the device before the page's are added, so
// "Apply" is enabled only after a whole configuration was read; classes the
// rows cannot show (beyond the fourth, or failing IsValidClass) are kept as
// loaded and sent back unchanged. An apply ends whole (see PartWrite): it is
// refused when the device's values changed since they were loaded, and after
// a failure or a stop the fields show what the device holds. Owned by the
// settings dialog.
class ClassifierTab final : public DevicePage {
    Q_OBJECT
public:
    // One object class: minimum area, maximum area, minimum height, maximum height.
    using ClassRow = std::tuple<QLineEdit*, QLineEdit*, QLineEdit*, QLineEdit*>;

    // The form's widgets the page works on; all owned by the dialog.
    struct Widgets {
        QLineEdit* timeout = nullptr;
        std::vector<ClassRow> rows; // classes 1 to 4, in order
        QPushButton* apply = nullptr;
    };

    ClassifierTab(QObject* dialog, HttpClientDialog* http, const Widgets& widgets);
    ~ClassifierTab() override;

    // The commands "Apply" sends for the current fields, in order: the
    // timeout when it is a non-zero integer other than the device's, then,
    // when the classes differ from the device's, the removal of every class
    // and each class to keep. Before a load every class is sent anew.
    std::vector<QString> ApplyCommands() const;

    // Areas in square metres, heights in metres. A class is sent only when
    // both ranges are proper and the maxima are positive; the minimum area may
    // be 0 or negative, the minimum height may not.
    static bool IsValidClass(double minArea, double maxArea, double minHeight, double maxHeight);

    // The device's values fill the fields and enable Apply: the timeout, and
    // in the rows the first four classes that pass IsValidClass.
    void SetClassifier(const ClassifierValues& values);
    // The device's values were taken from a whole configuration.
    bool IsLoaded() const { return loaded_; }
    // Fills the fields from the configuration unless they were loaded before
    // (or a reload was asked for); from a configuration read only in part
    // Apply stays disabled.
    QString TakeConfig(const VcaConfigReader& reader) override;
    // The next configuration read fills the fields anew.
    void AskReload() { reloadAsked_ = true; }

public slots:
    void OnApply();

private:
    // The first field whose text cannot be sent, with a message naming it
    // and its range; null when every field can be sent. A class whose four
    // fields are all empty is unused, not wrong.
    QLineEdit* FindInvalidField(QString& message) const;
    // The classes Apply leaves on the device, in the device's order: a shown
    // class as its row reads now (none when the row was cleared), a class
    // the rows cannot show as loaded; then the classes typed into rows that
    // were empty.
    std::vector<ObjectClassValues> ClassesToKeep() const;
    // Shows what the device holds after an apply.
    void TakeDevice(const VcaConfigReader& device);

    bool loaded_ = false;
    // device_ can be compared with: false before a load and after an apply
    // that failed or was cancelled part-way, so that everything is sent.
    bool deviceKnown_ = false;
    ClassifierValues device_; // as loaded or last read back
    // The device's classes hold settings this version does not know.
    bool deviceHoldsUnknown_ = false;
    bool reloadAsked_ = false;
    std::vector<int> rowOf_; // per class of device_: the row showing it, or -1
    QLineEdit* timeout_ = nullptr;
    QPushButton* apply_ = nullptr;
    std::vector<ClassRow> rows_;
};

#include "ClientMainForm.h"

#include "AddressProblems.h"
#include "AssignmentVerifier.h"
#include "ConfigTemplate.h"
#include "CsvText.h"
#include "DiscoveryProtocol.h"
#include "ErrorBox.h"
#include "ReaddressDialog.h"
#include "TemplateBatchDialog.h"
#include "TemplatePartsDialog.h"
#include "VcaConfigReader.h"
#include "SettingsDialog.h"
#include "StringUtils.h"
#include "TemplateActions.h"
#include "ToolVersion.h"
#include "UdpModule.h"

#include <QAbstractItemView>
#include <QAction>
#include <QByteArray>
#include <QClipboard>
#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHeaderView>
#include <QIcon>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QSaveFile>
#include <QScopedValueRollback>
#include <QScreen>
#include <QScrollBar>
#include <QSettings>
#include <QShortcut>
#include <QStringList>
#include <QStyle>
#include <QTableWidgetItem>
#include <QUrl>

#include <arpa/inet.h>

#include <easylogging++.h>

#include <algorithm>
#include <cassert>
#include <limits>

static const AssignmentVerifier vf;

// The icon's resource lives in a static library, whose registration the
// linker would drop unless something calls it.
static void RegisterToolIcon()
{
    Q_INIT_RESOURCE(ToolIcon);
}

namespace {

// The dialog that edits one device's record.
using DeviceSettingsDialog = SettingsDialog;

constexpr int kColumnCount = 9;
constexpr int kNameColumn = 1;
constexpr int kIpColumn = 2;
constexpr int kMacColumn = 3;
constexpr int kMaskColumn = 4;
constexpr int kGatewayColumn = 5;
constexpr int kSerialColumn = 8;

// The index of the row's record in params_, on every item of the row.
constexpr int kRecordRole = Qt::UserRole;
// A number the column sorts by instead of the text (IPv4 addresses).
constexpr int kSortKeyRole = Qt::UserRole + 1;

constexpr size_t kNoRecord = std::numeric_limits<size_t>::max();

// Rows of one search. Far more devices than any site has, but a bound on what
// a flood of forged replies can make the window hold.
constexpr size_t kMaxRows = 20000;

// A cell of the device table. Addresses sort in numeric order, the other
// columns by their text.
class DeviceTableItem final : public QTableWidgetItem {
public:
    explicit DeviceTableItem(const QString& text) : QTableWidgetItem(text) {}

    bool operator<(const QTableWidgetItem& other) const override
    {
        const QVariant key = data(kSortKeyRole);
        const QVariant otherKey = other.data(kSortKeyRole);
        if (key.isValid() && otherKey.isValid()) {
            return key.toULongLong() < otherKey.toULongLong();
        }
        return QString::localeAwareCompare(text(), other.text()) < 0;
    }
};

// Values as long as a device's usually are, one per column.
const char* const kTypicalCells[kColumnCount] = {
    "QEL VCA-100",     "Entrance camera 12", "255.255.255.255", "00-00-00-00-00-00",
    "255.255.255.255", "255.255.255.255",    "static",          "2.4.10",
    "SN0000000000"};
// Room beside a cell's text: its margins and the grid line.
constexpr int kCellPadding = 16;

QString Utf8(const std::string& text)
{
    return QString::fromUtf8(text.data(), static_cast<int>(text.size()));
}

std::string MacKey(const DeviceNetworkParams& params)
{
    return std::string(std::begin(params.mac), std::end(params.mac));
}

// The tool's remembered choices (QSettings): the folder each file dialog
// showed last.
const char* const kSettingsOrganisation = "QEL";
const char* const kSettingsApplication = "QelIpTool";
const char* const kExportFolderKey = "mainWindow/exportFolder";

// The remembered folder of `key`, empty when none is or it is gone.
QString RememberedFolder(const char* key)
{
    const QSettings settings(QString::fromLatin1(kSettingsOrganisation),
                             QString::fromLatin1(kSettingsApplication));
    const QString folder = settings.value(QString::fromLatin1(key)).toString();
    return !folder.isEmpty() && QFileInfo(folder).isDir() ? folder : QString();
}

void RememberFolderOf(const char* key, const QString& path)
{
    QSettings settings(QString::fromLatin1(kSettingsOrganisation), QString::fromLatin1(kSettingsApplication));
    settings.setValue(QString::fromLatin1(key), QFileInfo(path).absolutePath());
}

} // namespace

ClientMainForm::ClientMainForm(QWidget* parent) : QMainWindow(parent)
{
    setupUi(this);
    Init();
}

ClientMainForm::~ClientMainForm() = default;

void ClientMainForm::Init()
{
    udpModule_ = new UdpModuleWithTimer(this);

    vf = connect(pushButtonSearch, SIGNAL(clicked()), this, SLOT(OnStartSearch()));
    vf = connect(pushButtonStopSearch, SIGNAL(clicked()), this, SLOT(OnStopSearch()));
    vf = connect(pushButtonSettings, SIGNAL(clicked()), this, SLOT(OnSettings()));
    vf = connect(pushButtonReaddress, SIGNAL(clicked()), this, SLOT(OnReaddress()));
    vf = connect(pushButtonApplyTemplate, SIGNAL(clicked()), this, SLOT(OnApplyTemplate()));
    vf = connect(tableWidgetDevices, SIGNAL(itemSelectionChanged()), this, SLOT(OnDeviceSelectionChanged()));
    vf = connect(tableWidgetDevices, SIGNAL(cellDoubleClicked(int, int)), this,
                 SLOT(OnCellDoubleClicked(int, int)));
    vf = connect(pushButtonExport, SIGNAL(clicked()), this, SLOT(OnExport()));
    vf = connect(lineEditFilter, SIGNAL(textChanged(const QString&)), this, SLOT(OnFilterChanged()));
    tableWidgetDevices->setContextMenuPolicy(Qt::CustomContextMenu);
    vf = connect(tableWidgetDevices, SIGNAL(customContextMenuRequested(const QPoint&)), this,
                 SLOT(OnTableContextMenu(const QPoint&)));

    // The columns of the device list without its "Problems", which the
    // rows show as a mark and a tool tip.
    const QStringList headers = DeviceListHeader().mid(0, kColumnCount);
    for (int column = 0; column < kColumnCount; ++column) {
        tableWidgetDevices->insertColumn(column);
    }
    tableWidgetDevices->setHorizontalHeaderLabels(headers);
    tableWidgetDevices->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tableWidgetDevices->setSelectionBehavior(QAbstractItemView::SelectRows);
    tableWidgetDevices->setSizeAdjustPolicy(QAbstractScrollArea::AdjustToContents);
    tableWidgetDevices->setShowGrid(true);
    tableWidgetDevices->installEventFilter(this);
    SizeForTypicalDevices();

    RegisterToolIcon();
    setWindowIcon(QIcon(QStringLiteral(":/icons/qel-ip-tool.svg")));
    QMenu* helpMenu = menubar->addMenu(tr("&Help"));
    QAction* aboutAction = helpMenu->addAction(tr("&About %1").arg(QString::fromLatin1(kToolName)));
    aboutAction->setObjectName(QStringLiteral("actionAbout"));
    aboutAction->setMenuRole(QAction::AboutRole);
    vf = connect(aboutAction, SIGNAL(triggered()), this, SLOT(OnAbout()));

    // Window-wide keys: F5 searches as the button does (and, as the button,
    // not while a search runs); Ctrl+F goes to the filter.
    auto* searchKey = new QShortcut(QKeySequence(Qt::Key_F5), this);
    searchKey->setObjectName(QStringLiteral("shortcutSearch"));
    vf = connect(searchKey, SIGNAL(activated()), pushButtonSearch, SLOT(click()));
    auto* filterKey = new QShortcut(QKeySequence::Find, this);
    filterKey->setObjectName(QStringLiteral("shortcutFilter"));
    vf = connect(filterKey, &QShortcut::activated, this, [this] {
        lineEditFilter->setFocus(Qt::ShortcutFocusReason);
        lineEditFilter->selectAll();
    });

    // Rows keep their arrival order until the user clicks a column header;
    // each click on the same header turns the order round.
    QHeaderView* header = tableWidgetDevices->horizontalHeader();
    header->setSortIndicator(-1, Qt::AscendingOrder);
    header->setSortIndicatorShown(true);
    header->setSectionsClickable(true);
    vf = connect(header, SIGNAL(sortIndicatorChanged(int, Qt::SortOrder)), this,
                 SLOT(OnSortIndicatorChanged(int, Qt::SortOrder)));
}

void ClientMainForm::SizeForTypicalDevices()
{
    QHeaderView* header = tableWidgetDevices->horizontalHeader();
    const QFontMetrics metrics(tableWidgetDevices->font());
    int columnsWidth = 0;
    for (int column = 0; column < kColumnCount; ++column) {
        const int cell = metrics.horizontalAdvance(QString::fromLatin1(kTypicalCells[column])) + kCellPadding;
        tableWidgetDevices->setColumnWidth(column, std::max(header->sectionSizeHint(column), cell));
        columnsWidth += tableWidgetDevices->columnWidth(column);
    }
    // Everything around the columns: the row numbers, the table's frame and
    // scroll bar, and the margins of the window's layout.
    const QMargins margins = centralwidget->layout()->contentsMargins();
    const int wanted = columnsWidth + tableWidgetDevices->verticalHeader()->sizeHint().width() +
                       2 * tableWidgetDevices->frameWidth() +
                       tableWidgetDevices->verticalScrollBar()->sizeHint().width() + margins.left() +
                       margins.right();
    int width = std::max(this->width(), wanted);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        width = std::min(width, screen->availableGeometry().width());
    }
    resize(width, height());
}

void ClientMainForm::FitColumnsToContents()
{
    // An empty table keeps the widths made for typical devices.
    if (tableWidgetDevices->rowCount() > 0) {
        tableWidgetDevices->resizeColumnsToContents();
    }
}

bool ClientMainForm::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == tableWidgetDevices && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const int row = tableWidgetDevices->currentRow();
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && row >= 0) {
            // As a double-click on the row, which also shows as selected.
            tableWidgetDevices->selectRow(row);
            OnCellDoubleClicked(row, tableWidgetDevices->currentColumn());
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void ClientMainForm::OnStartSearch()
{
    pushButtonSearch->setEnabled(false);
    pushButtonStopSearch->setEnabled(true);
    pushButtonSettings->setEnabled(false);
    statusbar->showMessage(tr("Searching devices in network..."));

    std::set<std::string> kept;
    for (const int row : SelectedShownRows()) {
        const size_t record = RecordOfRow(row);
        if (record < params_.size()) {
            kept.insert(MacKey(params_[record]));
        }
    }
    {
        const QScopedValueRollback<bool> ownHand(selectingKept_, true);
        tableWidgetDevices->setRowCount(0);
    }
    keptSelection_ = std::move(kept);
    params_.clear();
    replyInterfaces_.clear();
    problems_.clear();
    notListed_ = 0;
    // Read at each search: a cable plugged in or an address taken since
    // changes which devices are reachable.
    interfaces_ = WorkstationInterfaces();
    interfacesRead_ = true;

    udpModule_->Start();
    vf = connect(udpModule_, SIGNAL(DatagramsReceived(const DatagramBatch&)), this,
                 SLOT(InsertDevices(const DatagramBatch&)));
    vf = connect(udpModule_, SIGNAL(Stopped()), this, SLOT(OnStopSearch()));

    const std::vector<char> request = ComposeDiscoverRequest();
    udpModule_->SendBroadcast(QByteArray(request.data(), static_cast<int>(request.size())));
}

void ClientMainForm::InsertDevice(const QByteArray& rawContent)
{
    ReceivedDatagram datagram;
    datagram.bytes = rawContent;
    InsertDevices(DatagramBatch{datagram});
}

void ClientMainForm::InsertDevices(const DatagramBatch& batch)
{
    const size_t firstRecord = params_.size();
    for (const ReceivedDatagram& datagram : batch) {
        DeviceNetworkParams params{};
        if (!ParseDiscoverResponse(datagram.bytes.constData(), static_cast<size_t>(datagram.bytes.size()),
                                   params)) {
            VLOG(1) << "Device is not recognized";
            continue;
        }
        if (params_.size() >= kMaxRows) {
            ++notListed_;
            continue;
        }
        VLOG(1) << "One more device found: " << params.deviceName << " from " << IpTypeToString(params.ip);
        params_.push_back(std::move(params));
        replyInterfaces_.push_back(datagram.interfaceIndex);
    }
    if (params_.size() == firstRecord) {
        return;
    }
    // One table update per batch: a burst of a thousand replies must not
    // cost a thousand relayouts. Sorting and filtering move the selection
    // without the user.
    const QScopedValueRollback<bool> ownHand(selectingKept_, true);
    tableWidgetDevices->setUpdatesEnabled(false);
    const int firstRow = tableWidgetDevices->rowCount();
    tableWidgetDevices->setRowCount(firstRow + static_cast<int>(params_.size() - firstRecord));
    assert(static_cast<size_t>(tableWidgetDevices->rowCount()) == params_.size());
    for (size_t record = firstRecord; record < params_.size(); ++record) {
        UpdateTableRow(firstRow + static_cast<int>(record - firstRecord), record);
    }
    // A newcomer can give rows listed earlier a shared address.
    RefreshProblems();
    ApplySort();
    ApplyFilter();
    SelectKeptRows(firstRecord);
    tableWidgetDevices->setUpdatesEnabled(true);
}

void ClientMainForm::SelectKeptRows(size_t firstRecord)
{
    if (keptSelection_.empty()) {
        return;
    }
    const QScopedValueRollback<bool> ownHand(selectingKept_, true);
    QItemSelectionModel* selection = tableWidgetDevices->selectionModel();
    for (size_t record = firstRecord; record < params_.size(); ++record) {
        if (keptSelection_.count(MacKey(params_[record])) == 0) {
            continue;
        }
        const int row = RowOfRecord(record);
        if (row >= 0 && !tableWidgetDevices->isRowHidden(row)) {
            selection->select(tableWidgetDevices->model()->index(row, 0),
                              QItemSelectionModel::Select | QItemSelectionModel::Rows);
        }
    }
}

bool ClientMainForm::RowMatchesFilter(int row, const QString& needle) const
{
    if (needle.isEmpty()) {
        return true;
    }
    for (const int column : {kNameColumn, kIpColumn, kMacColumn, kSerialColumn}) {
        const QTableWidgetItem* item = tableWidgetDevices->item(row, column);
        if (item != nullptr && item->text().contains(needle, Qt::CaseInsensitive)) {
            return true;
        }
    }
    // A MAC address typed as most tools write it: with colons.
    const QTableWidgetItem* mac = tableWidgetDevices->item(row, kMacColumn);
    return mac != nullptr && needle.contains(QLatin1Char(':')) &&
           mac->text().contains(QString(needle).replace(QLatin1Char(':'), QLatin1Char('-')),
                                Qt::CaseInsensitive);
}

void ClientMainForm::ApplyFilter()
{
    const QString needle = lineEditFilter->text().trimmed();
    QItemSelectionModel* selection = tableWidgetDevices->selectionModel();
    // Rows leaving the selection here keep the devices to select again
    // during a search.
    const QScopedValueRollback<bool> ownHand(selectingKept_, true);
    for (int row = 0; row < tableWidgetDevices->rowCount(); ++row) {
        const bool hide = !RowMatchesFilter(row, needle);
        if (hide != tableWidgetDevices->isRowHidden(row)) {
            tableWidgetDevices->setRowHidden(row, hide);
        }
        // What cannot be seen is not acted on.
        if (hide && selection->isRowSelected(row, QModelIndex())) {
            selection->select(tableWidgetDevices->model()->index(row, 0),
                              QItemSelectionModel::Deselect | QItemSelectionModel::Rows);
        }
    }
}

void ClientMainForm::OnFilterChanged()
{
    ApplyFilter();
    // While a search runs the status bar says so; afterwards it counts.
    if (pushButtonSearch->isEnabled() && udpModule_->ListenError().isEmpty() &&
        udpModule_->SendError().isEmpty()) {
        statusbar->showMessage(FoundText());
    }
}

void ClientMainForm::UpdateTableRow(int row, size_t record)
{
    assert(row >= 0 && row < tableWidgetDevices->rowCount() && record < params_.size());
    const DeviceNetworkParams& params = params_[record];
    const QStringList cells = DeviceListFields(params, QString());
    for (int column = 0; column < kColumnCount; ++column) {
        auto* item = new DeviceTableItem(cells.at(column));
        item->setFlags(item->flags() & ~Qt::ItemIsEditable);
        item->setData(kRecordRole, static_cast<qulonglong>(record));
        tableWidgetDevices->setItem(row, column, item);
    }
    tableWidgetDevices->item(row, kIpColumn)
        ->setData(kSortKeyRole, static_cast<qulonglong>(ntohl(params.ip)));
    tableWidgetDevices->item(row, kMaskColumn)
        ->setData(kSortKeyRole, static_cast<qulonglong>(ntohl(params.mask)));
    tableWidgetDevices->item(row, kGatewayColumn)
        ->setData(kSortKeyRole, static_cast<qulonglong>(ntohl(params.gateway)));
    MarkProblem(row, record);
}

void ClientMainForm::SetWorkstationInterfaces(std::vector<WorkstationInterface> interfaces)
{
    interfaces_ = std::move(interfaces);
    interfacesRead_ = true;
    RefreshProblems();
}

QString ClientMainForm::ProblemText(size_t record) const
{
    return record < problems_.size() ? problems_[record].Text(params_[record].ip) : QString();
}

void ClientMainForm::MarkProblem(int row, size_t record)
{
    const QString problem = ProblemText(record);
    for (int column = 0; column < kColumnCount; ++column) {
        QTableWidgetItem* item = tableWidgetDevices->item(row, column);
        if (item == nullptr) {
            continue;
        }
        if (column == 0) {
            item->setIcon(problem.isEmpty() ? QIcon() : style()->standardIcon(QStyle::SP_MessageBoxWarning));
        }
        // The whole text, also when the column cuts it, and what is wrong
        // with the address; devices name themselves, so it is never taken
        // as markup.
        item->setToolTip(
            PlainToolTip(problem.isEmpty() ? item->text() : item->text() + QLatin1Char('\n') + problem));
    }
}

void ClientMainForm::RefreshProblems()
{
    if (!interfacesRead_) {
        interfaces_ = WorkstationInterfaces();
        interfacesRead_ = true;
    }
    std::vector<ListedAddress> listed;
    listed.reserve(params_.size());
    for (size_t record = 0; record < params_.size(); ++record) {
        listed.push_back(ListedAddressOf(params_[record], replyInterfaces_[record]));
    }
    std::vector<AddressProblem> found = FindAddressProblems(listed, interfaces_);
    std::vector<bool> changed(found.size());
    bool any = false;
    for (size_t record = 0; record < found.size(); ++record) {
        changed[record] =
            record >= problems_.size() ? found[record].Any() : !(found[record] == problems_[record]);
        any = any || changed[record];
    }
    problems_ = std::move(found);
    if (!any) {
        return;
    }
    for (int row = 0; row < tableWidgetDevices->rowCount(); ++row) {
        const size_t record = RecordOfRow(row);
        if (record < changed.size() && changed[record]) {
            MarkProblem(row, record);
        }
    }
}

QString ClientMainForm::FoundText() const
{
    size_t sharing = 0;
    size_t outside = 0;
    int sharingMac = 0;
    for (const AddressProblem& problem : problems_) {
        sharing += problem.sharesWith > 0 ? 1 : 0;
        outside += problem.outside ? 1 : 0;
        sharingMac += problem.SharesMac() ? 1 : 0;
    }
    QString text = tr("%1 device(s) found").arg(tableWidgetDevices->rowCount());
    if (!lineEditFilter->text().trimmed().isEmpty()) {
        int shown = 0;
        for (int row = 0; row < tableWidgetDevices->rowCount(); ++row) {
            shown += tableWidgetDevices->isRowHidden(row) ? 0 : 1;
        }
        text += tr("; %1 shown").arg(shown);
    }
    if (sharing > 0) {
        text += tr("; %1 share an IP address with another device").arg(sharing);
    }
    if (outside > 0) {
        text += tr("; %1 are outside this workstation's networks").arg(outside);
    }
    if (sharingMac > 0) {
        text += QStringLiteral("; ") + tr("%n share a MAC address with another device", nullptr, sharingMac);
    }
    if (notListed_ > 0) {
        text += tr("; %1 more answers were not listed").arg(notListed_);
    }
    return text;
}

size_t ClientMainForm::RecordOfRow(int row) const
{
    const QTableWidgetItem* item = tableWidgetDevices->item(row, 0);
    return item != nullptr ? static_cast<size_t>(item->data(kRecordRole).toULongLong()) : kNoRecord;
}

int ClientMainForm::RowOfRecord(size_t record) const
{
    for (int row = 0; row < tableWidgetDevices->rowCount(); ++row) {
        if (RecordOfRow(row) == record) {
            return row;
        }
    }
    return -1;
}

void ClientMainForm::ApplySort()
{
    if (sortColumn_ >= 0) {
        tableWidgetDevices->sortItems(sortColumn_, sortOrder_);
    }
}

void ClientMainForm::OnSortIndicatorChanged(int column, Qt::SortOrder order)
{
    sortColumn_ = column;
    sortOrder_ = order;
    VLOG(1) << "Sorting by column " << column << (order == Qt::AscendingOrder ? " ascending" : " descending");
    // The selection follows its rows, so the selected device stays selected.
    ApplySort();
    ApplyFilter();
}

void ClientMainForm::OnStopSearch()
{
    VLOG(1) << "OnStopSearch called";
    // Disconnecting first keeps late datagrams out of the table and keeps the
    // window from receiving its own Stopped().
    udpModule_->disconnect(this);
    udpModule_->Stop();
    keptSelection_.clear();
    pushButtonSearch->setEnabled(true);
    pushButtonStopSearch->setEnabled(false);
    FitColumnsToContents();
    // A search that could not listen or could not send its request heard
    // nothing: a device count would claim that no device answered.
    const QString listenError = udpModule_->ListenError();
    const QString sendError = udpModule_->SendError();
    if (!listenError.isEmpty()) {
        statusbar->showMessage(tr("Cannot listen on UDP port %1: ").arg(UdpModuleWithTimer::kListenPort) +
                               listenError);
    } else if (!sendError.isEmpty()) {
        statusbar->showMessage(tr("Cannot send the search request: ") + sendError);
    } else {
        statusbar->showMessage(FoundText());
    }
}

int ClientMainForm::GetDevicesSelectedRow() const
{
    const std::vector<int> rows = SelectedShownRows();
    return rows.empty() ? -1 : rows.front();
}

std::vector<int> ClientMainForm::SelectedShownRows() const
{
    // Select all also takes the rows the filter hides.
    std::vector<bool> selected(static_cast<size_t>(tableWidgetDevices->rowCount()), false);
    for (const QTableWidgetItem* item : tableWidgetDevices->selectedItems()) {
        selected[static_cast<size_t>(item->row())] = !tableWidgetDevices->isRowHidden(item->row());
    }
    std::vector<int> rows;
    for (size_t row = 0; row < selected.size(); ++row) {
        if (selected[row]) {
            rows.push_back(static_cast<int>(row));
        }
    }
    return rows;
}

void ClientMainForm::OnDeviceSelectionChanged()
{
    if (!selectingKept_) {
        keptSelection_.clear();
    }
    const int row = GetDevicesSelectedRow();
    pushButtonSettings->setEnabled(row != -1);
    VLOG(1) << "Row selection changed: " << row;
}

void ClientMainForm::OnSettings()
{
    OnStopSearch();
    const int row = GetDevicesSelectedRow();
    if (row == -1) {
        return; // the button is disabled without a selection
    }
    OpenSettings(RecordOfRow(row));
}

void ClientMainForm::OnCellDoubleClicked(int row, int /*column*/)
{
    // The record is taken before anything else runs, by the row the user
    // double-clicked, whatever is selected and however the table is sorted.
    const size_t record = RecordOfRow(row);
    OnStopSearch();
    if (record != kNoRecord) {
        OpenSettings(record);
    }
}

void ClientMainForm::OpenSettings(size_t record)
{
    assert(record < params_.size());
    assert(static_cast<size_t>(tableWidgetDevices->rowCount()) == params_.size());

    const DeviceNetworkParams copy = params_[record];
    DeviceSettingsDialog dialog(copy, this, replyInterfaces_[record]);
    // The same device heard twice is no other device at its address.
    std::vector<uint32_t> others;
    for (size_t i = 0; i < params_.size(); ++i) {
        if (!std::equal(std::begin(copy.mac), std::end(copy.mac), std::begin(params_[i].mac))) {
            others.push_back(params_[i].ip);
        }
    }
    dialog.SetListedAddresses(std::move(others));
    if (record < problems_.size() && problems_[record].SharesMac()) {
        dialog.SetSharedMac(SharedMacRefusal(copy.mac));
    }
    vf = connect(&dialog, &SettingsDialog::StatusChanged, this,
                 [this, &dialog](const QString& text, int timeoutMs) {
                     ShowDeviceStatus(dialog.GetParams(), text, timeoutMs);
                 });
    dialog.exec();
    params_[record] = dialog.GetParams();
    const int row = RowOfRecord(record);
    if (row >= 0) {
        UpdateTableRow(row, record);
    }
    // A new address can end a conflict, or start one, for other rows too.
    RefreshProblems();
    if (row >= 0) {
        ApplySort();
    }
    ApplyFilter();
    FitColumnsToContents();
}

void ClientMainForm::ShowDeviceStatus(const DeviceNetworkParams& device, const QString& text, int timeoutMs)
{
    // The dialog's record: a readdress in the dialog names the new address.
    const QString address = Utf8(IpTypeToString(device.ip));
    const QString name = Utf8(device.deviceName);
    statusbar->showMessage((name.isEmpty() ? address : tr("%1 (%2)").arg(name, address)) +
                               QStringLiteral(": ") + text,
                           timeoutMs);
}

void ClientMainForm::OnReaddress()
{
    OnStopSearch();
    std::vector<ListedDevice> listed;
    for (size_t record = 0; record < params_.size(); ++record) {
        listed.push_back({params_[record], replyInterfaces_[record]});
    }
    // The rows to readdress, in the order the table shows them.
    std::vector<bool> offered(static_cast<size_t>(tableWidgetDevices->rowCount()), false);
    const std::vector<int> selectedRows = SelectedShownRows();
    for (const int row : selectedRows) {
        offered[static_cast<size_t>(row)] = true;
    }
    if (selectedRows.empty()) {
        // The rows that share an address: those devices cannot all be
        // reached. One that only sits in another subnet may well work as it
        // is, and is readdressed only when selected; a device whose MAC
        // another answers with cannot be told apart by the request.
        for (size_t row = 0; row < offered.size(); ++row) {
            const size_t record = RecordOfRow(static_cast<int>(row));
            offered[row] = record < problems_.size() && problems_[record].sharesWith > 0 &&
                           !problems_[record].SharesMac() &&
                           !tableWidgetDevices->isRowHidden(static_cast<int>(row));
        }
    }
    std::vector<size_t> records;
    for (size_t row = 0; row < offered.size(); ++row) {
        const size_t record = RecordOfRow(static_cast<int>(row));
        if (offered[row] && record < params_.size()) {
            records.push_back(record);
        }
    }
    if (records.empty()) {
        statusbar->showMessage(
            tr("Select the devices to readdress: no listed device shares its IP address with another"));
        return;
    }
    if (RefuseSharedMac(records)) {
        return;
    }
    // A device listed twice (its reply came twice) is readdressed once.
    auto sameMac = [](const DeviceNetworkParams& a, const DeviceNetworkParams& b) {
        return std::equal(std::begin(a.mac), std::end(a.mac), std::begin(b.mac));
    };
    std::vector<ListedDevice> devices;
    for (const size_t record : records) {
        const bool known = std::any_of(devices.begin(), devices.end(), [&](const ListedDevice& device) {
            return sameMac(device.params, listed[record].params);
        });
        if (!known) {
            devices.push_back(listed[record]);
        }
    }

    ReaddressDialog dialog(devices, listed, this);
    dialog.exec();
    // Devices are followed by MAC: a changed row takes its new record.
    for (const DeviceNetworkParams& changed : dialog.NewRecords()) {
        for (size_t record = 0; record < params_.size(); ++record) {
            if (sameMac(changed, params_[record])) {
                params_[record] = changed;
                const int row = RowOfRecord(record);
                if (row >= 0) {
                    UpdateTableRow(row, record);
                }
            }
        }
    }
    // New addresses end conflicts, or start them, for the rows left alone too.
    RefreshProblems();
    ApplySort();
    ApplyFilter();
    FitColumnsToContents();
    statusbar->showMessage(dialog.Summary().isEmpty() ? FoundText() : dialog.Summary());
}

bool ClientMainForm::RefuseSharedMac(const std::vector<size_t>& records)
{
    for (const size_t record : records) {
        if (record < problems_.size() && problems_[record].SharesMac()) {
            const QString refusal = SharedMacRefusal(params_[record].mac);
            LOG(WARNING) << refusal.toStdString() << "; nothing sent";
            statusbar->showMessage(refusal);
            ShowErrorBox(this, refusal);
            return true;
        }
    }
    return false;
}

void ClientMainForm::OnApplyTemplate()
{
    OnStopSearch();
    // The selected rows in the order the table shows them; a device listed
    // twice (its reply came twice) is sent the template once.
    std::vector<DeviceNetworkParams> devices;
    std::vector<size_t> records;
    for (const int row : SelectedShownRows()) {
        const size_t record = RecordOfRow(row);
        if (record >= params_.size()) {
            continue;
        }
        records.push_back(record);
        const DeviceNetworkParams& params = params_[record];
        const bool known =
            std::any_of(devices.begin(), devices.end(), [&params](const DeviceNetworkParams& d) {
                return std::equal(std::begin(d.mac), std::end(d.mac), std::begin(params.mac));
            });
        if (!known) {
            devices.push_back(params);
        }
    }
    if (devices.empty()) {
        statusbar->showMessage(tr("Select the devices to apply the template to"));
        return;
    }
    if (RefuseSharedMac(records)) {
        return;
    }
    const QString path = AskTemplateFile(this, false);
    if (path.isEmpty()) {
        return;
    }
    RememberTemplateFolder(false, path);
    QByteArray text;
    std::unique_ptr<VcaConfigReader> read;
    QString error;
    if (!ReadTemplateFile(path, text, read, error)) {
        LOG(ERROR) << error.toStdString();
        ShowErrorBox(this, error);
        return;
    }
    // The devices' pictures are not known here: no aspect warning.
    TemplatePartsDialog parts(this);
    NameTemplate(parts, TemplateLabel(path, text));
    if (parts.exec() != QDialog::Accepted) {
        return;
    }
    TemplateBatchDialog dialog(std::shared_ptr<const VcaConfigReader>(std::move(read)),
                               TemplateLabel(path, text), parts.Choice(), devices, this);
    dialog.exec();
    if (!dialog.Summary().isEmpty()) {
        statusbar->showMessage(dialog.Summary());
    }
}

bool ClientMainForm::ExportTable(const QString& path, QString& error) const
{
    // The rows in the order the table shows them, each in the same form as
    // the command line's search prints it.
    QString text = CsvRecord(DeviceListHeader());
    for (int row = 0; row < tableWidgetDevices->rowCount(); ++row) {
        const size_t record = RecordOfRow(row);
        if (record < params_.size() && !tableWidgetDevices->isRowHidden(row)) {
            text += CsvRecord(DeviceListFields(params_[record], ProblemText(record)));
        }
    }
    // The byte order mark lets spreadsheet programs take the file as UTF-8,
    // so that device names in any script read back as they were shown. The
    // file is replaced only once it has been written whole.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write("\xEF\xBB\xBF") < 0 || file.write(text.toUtf8()) < 0 ||
        !file.commit()) {
        error = file.errorString();
        return false;
    }
    return true;
}

void ClientMainForm::OnExport()
{
    // A name of its own for each export, so that the list of another
    // search or site does not replace this one unasked.
    const QString name = QStringLiteral("devices-%1.csv")
                             .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmm")));
    const QString folder = RememberedFolder(kExportFolderKey);
    const QString path = QFileDialog::getSaveFileName(this, tr("Export devices"),
                                                      folder.isEmpty() ? name : QDir(folder).filePath(name),
                                                      tr("CSV files (*.csv);;All files (*)"));
    if (path.isEmpty()) {
        return;
    }
    RememberFolderOf(kExportFolderKey, path);
    int exported = 0;
    for (int row = 0; row < tableWidgetDevices->rowCount(); ++row) {
        exported += tableWidgetDevices->isRowHidden(row) ? 0 : 1;
    }
    QString error;
    if (!ExportTable(path, error)) {
        LOG(ERROR) << "Cannot export the device list to " << path.toStdString() << ": "
                   << error.toStdString();
        QMessageBox::critical(this, tr("Error"), tr("Cannot export the device list: ") + error,
                              QMessageBox::Ok);
        return;
    }
    statusbar->showMessage(
        tr("%1 device(s) exported to %2").arg(exported).arg(QDir::toNativeSeparators(path)));
}

void ClientMainForm::OnAbout()
{
    const QString name = QString::fromLatin1(kToolName);
    QMessageBox::about(this, tr("About %1").arg(name),
                       tr("%1\nVersion %2\n\nFinds the video-analytics devices of the local network, "
                          "changes their network settings and password, shows their live video and "
                          "edits their analytics configuration.")
                           .arg(name, QString::fromLatin1(kToolVersion)));
}

void ClientMainForm::OnTableContextMenu(const QPoint& position)
{
    const int row = tableWidgetDevices->rowAt(position.y());
    const size_t record = row >= 0 ? RecordOfRow(row) : kNoRecord;
    if (record >= params_.size()) {
        return;
    }
    // The row the menu acts on shows as selected, as after a click on it.
    if (!tableWidgetDevices->selectionModel()->isRowSelected(row, QModelIndex())) {
        tableWidgetDevices->selectRow(row);
    }
    const QString address = Utf8(IpTypeToString(params_[record].ip));
    const QString mac = tableWidgetDevices->item(row, kMacColumn)->text();

    QMenu menu(this);
    QAction* settings = menu.addAction(tr("Settings\u2026"));
    settings->setObjectName(QStringLiteral("actionRowSettings"));
    QAction* webPage = menu.addAction(tr("Open web page"));
    webPage->setObjectName(QStringLiteral("actionOpenWebPage"));
    QAction* copyIp = menu.addAction(tr("Copy IP address"));
    copyIp->setObjectName(QStringLiteral("actionCopyIpAddress"));
    QAction* copyMac = menu.addAction(tr("Copy MAC address"));
    copyMac->setObjectName(QStringLiteral("actionCopyMacAddress"));
    const QAction* chosen = menu.exec(tableWidgetDevices->viewport()->mapToGlobal(position));
    // The record is taken before the menu runs: a search still running may
    // have sorted the rows while it was open.
    if (chosen == settings) {
        OnStopSearch();
        OpenSettings(record);
    } else if (chosen == webPage) {
        QDesktopServices::openUrl(QUrl(QStringLiteral("http://%1/").arg(address)));
    } else if (chosen == copyIp) {
        QGuiApplication::clipboard()->setText(address);
    } else if (chosen == copyMac) {
        QGuiApplication::clipboard()->setText(mac);
    }
}

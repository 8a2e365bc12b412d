#include "ClientMainForm.h"

#include "AssignmentVerifier.h"
#include "DiscoveryProtocol.h"
#include "SettingsDialog.h"
#include "StringUtils.h"
#include "ToolVersion.h"
#include "UdpModule.h"

#include <QAbstractItemView>
#include <QAction>
#include <QByteArray>
#include <QGuiApplication>
#include <QHeaderView>
#include <QIcon>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>
#include <QScrollBar>
#include <QStringList>
#include <QTableWidgetItem>

#include <easylogging++.h>

#include <algorithm>
#include <cassert>

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
    vf = connect(tableWidgetDevices, SIGNAL(itemSelectionChanged()), this, SLOT(OnDeviceSelectionChanged()));
    vf = connect(tableWidgetDevices, SIGNAL(cellDoubleClicked(int, int)), this,
                 SLOT(OnDeviceDoubleClicked(int, int)));

    const QStringList headers = {tr("Product name"), tr("Device name"),  tr("IP address"),
                                 tr("MAC address"),  tr("Network mask"), tr("Gateway"),
                                 tr("Static/DHCP"),  tr("Firmware"),     tr("Serial number")};
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
            OnDeviceDoubleClicked(row, tableWidgetDevices->currentColumn());
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

    tableWidgetDevices->setRowCount(0);
    params_.clear();

    udpModule_->Start();
    vf = connect(udpModule_, SIGNAL(DatagramReceived(const QByteArray&)), this,
                 SLOT(InsertDevice(const QByteArray&)));
    vf = connect(udpModule_, SIGNAL(Stopped()), this, SLOT(OnStopSearch()));

    const std::vector<char> request = ComposeDiscoverRequest();
    udpModule_->SendBroadcast(QByteArray(request.data(), static_cast<int>(request.size())));
}

void ClientMainForm::InsertDevice(const QByteArray& rawContent)
{
    DeviceNetworkParams params{};
    if (!ParseDiscoverResponse(rawContent.constData(), static_cast<size_t>(rawContent.size()), params)) {
        VLOG(1) << "Device is not recognized";
        return;
    }
    VLOG(1) << "One more device found: " << params.deviceName << " from " << IpTypeToString(params.ip);
    const int row = tableWidgetDevices->rowCount();
    tableWidgetDevices->insertRow(row);
    params_.push_back(std::move(params));
    assert(static_cast<size_t>(tableWidgetDevices->rowCount()) == params_.size());
    UpdateTableRow(row);
}

void ClientMainForm::UpdateTableRow(int row)
{
    assert(row >= 0 && row < tableWidgetDevices->rowCount() && static_cast<size_t>(row) < params_.size());
    const DeviceNetworkParams& params = params_[static_cast<size_t>(row)];
    const QString cells[kColumnCount] = {
        Utf8(params.productName),
        Utf8(params.deviceName),
        Utf8(IpTypeToString(params.ip)),
        Utf8(utils::GetPrintedBufferInHex(params.mac, sizeof params.mac, sizeof params.mac, "-")),
        Utf8(IpTypeToString(params.mask)),
        Utf8(IpTypeToString(params.gateway)),
        Utf8(ConnectionTypeToString(params.connectionType)),
        Utf8(params.firmWare),
        Utf8(params.serialNo),
    };
    for (int column = 0; column < kColumnCount; ++column) {
        auto* item = new QTableWidgetItem(cells[column]);
        item->setFlags(item->flags() & ~Qt::ItemIsEditable);
        // The whole text, also when the column cuts it.
        item->setToolTip(cells[column]);
        tableWidgetDevices->setItem(row, column, item);
    }
}

void ClientMainForm::OnStopSearch()
{
    VLOG(1) << "OnStopSearch called";
    // Disconnecting first keeps late datagrams out of the table and keeps the
    // window from receiving its own Stopped().
    udpModule_->disconnect(this);
    udpModule_->Stop();
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
        statusbar->showMessage(tr("%1 device(s) found").arg(tableWidgetDevices->rowCount()));
    }
}

int ClientMainForm::GetDevicesSelectedRow() const
{
    const QList<QTableWidgetItem*> selected = tableWidgetDevices->selectedItems();
    if (selected.isEmpty()) {
        return -1;
    }
    int row = selected.front()->row();
    for (const QTableWidgetItem* item : selected) {
        row = std::min(row, item->row());
    }
    return row;
}

void ClientMainForm::OnDeviceSelectionChanged()
{
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
    OpenSettings(row);
}

void ClientMainForm::OnDeviceDoubleClicked(int row, int /*column*/)
{
    OnStopSearch();
    if (row < 0 || row >= tableWidgetDevices->rowCount()) {
        return;
    }
    OpenSettings(row);
}

void ClientMainForm::OpenSettings(int row)
{
    assert((row != -1 && static_cast<size_t>(row) < params_.size()) &&
           "Internal error: button must be disabled or size mismatch");
    assert(static_cast<size_t>(tableWidgetDevices->rowCount()) == params_.size());

    const DeviceNetworkParams copy = params_[static_cast<size_t>(row)];
    DeviceSettingsDialog dialog(copy, this);
    vf = connect(&dialog, SIGNAL(StatusChanged(const QString&, int)), statusbar,
                 SLOT(showMessage(const QString&, int)));
    dialog.exec();
    params_[static_cast<size_t>(row)] = dialog.GetParams();
    UpdateTableRow(row);
    FitColumnsToContents();
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

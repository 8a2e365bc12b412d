// The search window without a network: its form, and how replies handed to
// it become rows. Replies are fed straight to its InsertDevice slot.
#include "ClientMainForm.h"
#include "CsvText.h"
#include "DiscoveryReply.h"
#include "ModalCloser.h"
#include "RowMenu.h"
#include "SearchWindowFixture.h"
#include "TestHelpers.h"

#include "SettingsDialog.h"

#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QDir>
#include <QPixmap>
#include <QGuiApplication>
#include <QScreen>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QMetaObject>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QStatusBar>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QUrl>

#include <arpa/inet.h>

#include <algorithm>
#include <functional>

namespace {

// Reads CSV as written for spreadsheets: quoted fields with doubled quotes,
// records ended by CR LF.
QList<QStringList> ParseCsv(const QString& text)
{
    QList<QStringList> records;
    QStringList record;
    QString field;
    bool quoted = false;
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (quoted) {
            if (c == QLatin1Char('"') && i + 1 < text.size() && text.at(i + 1) == QLatin1Char('"')) {
                field += c;
                ++i;
            } else if (c == QLatin1Char('"')) {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == QLatin1Char('"')) {
            quoted = true;
        } else if (c == QLatin1Char(',')) {
            record << field;
            field.clear();
        } else if (c == QLatin1Char('\r') && i + 1 < text.size() && text.at(i + 1) == QLatin1Char('\n')) {
            records << (record << field);
            record.clear();
            field.clear();
            ++i;
        } else {
            field += c;
        }
    }
    return records;
}

// Takes the URLs the desktop would open in a browser.
class UrlCatcher final : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void Open(const QUrl& url) { urls << url; }
};

// Hands each modal window that opens to `handler` until it says it dealt
// with one; then stops.
class ModalHandler final : public QObject {
public:
    explicit ModalHandler(std::function<bool(QWidget*)> handler) : handler_(std::move(handler))
    {
        connect(&timer_, &QTimer::timeout, this, [this] {
            QWidget* modal = QApplication::activeModalWidget();
            if (modal != nullptr && handler_(modal)) {
                done_ = true;
                timer_.stop();
            }
        });
        timer_.start(10);
    }
    bool Done() const { return done_; }

private:
    std::function<bool(QWidget*)> handler_;
    QTimer timer_;
    bool done_ = false;
};

// Accepts `path` in the file dialog `modal`; false when it is none. The
// dialog's own name field takes the path: selectFile leaves the proposed name
// there while the field has the focus.
bool ChooseFile(QWidget* modal, const QString& path)
{
    auto* files = qobject_cast<QFileDialog*>(modal);
    auto* name = files != nullptr ? files->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")) : nullptr;
    if (name == nullptr) {
        return false;
    }
    name->setText(path);
    QMetaObject::invokeMethod(files, "accept");
    return true;
}

// A device at 127.0.0.`lastOctet`: whatever the window loads from it never
// leaves this machine.
DiscoveryReply LoopbackReply(const std::string& name, int lastOctet)
{
    DiscoveryReply reply;
    reply.deviceName = name;
    const unsigned char loopback[4] = {127, 0, 0, static_cast<unsigned char>(lastOctet)};
    std::copy(loopback, loopback + 4, reply.ip);
    // A device of its own: one MAC at two addresses would be two devices
    // sharing it.
    reply.mac[5] = static_cast<unsigned char>(lastOctet);
    return reply;
}

// Notes the device of the settings dialog once it shows under `window`,
// however long the dialog takes to open (a sanitized build on a busy
// machine takes a while).
class OpenedDeviceWatch final {
public:
    OpenedDeviceWatch(QWidget* window, QString& opened)
    {
        timer_.setInterval(10);
        QObject::connect(&timer_, &QTimer::timeout, [this, window, &opened] {
            if (auto* dialog = window->findChild<SettingsDialog*>()) {
                opened = QString::fromStdString(dialog->GetParams().deviceName);
                timer_.stop();
            }
        });
        timer_.start();
    }

private:
    QTimer timer_;
};

} // namespace

class SearchWindowTest : public SearchWindowFixture {
    Q_OBJECT
private:
    void Insert(const QByteArray& datagram)
    {
        QVERIFY(QMetaObject::invokeMethod(window_, "InsertDevice", Qt::DirectConnection,
                                          Q_ARG(QByteArray, datagram)));
    }

    QStringList ChooseFromRowMenu(int row, const char* name)
    {
        return ::ChooseFromRowMenu(table_, row, name);
    }

    QString Cell(int row, int column) const
    {
        const QTableWidgetItem* item = table_->item(row, column);
        return item != nullptr ? item->text() : QStringLiteral("<none>");
    }

    QTemporaryDir settingsDir_; // the tool's remembered choices during the run

    // Names, serial numbers and addresses for the filter to tell apart.
    void InsertSite()
    {
        const char* const names[] = {"Gate North", "Yard", "gate south", "Dock", "Office", "Canteen",
                                     "Lab",        "Roof", "Parking",    "Hall", "Stairs", "Gatehouse"};
        for (int i = 0; i < 12; ++i) {
            DiscoveryReply reply = LoopbackReply(names[i], 40 + i);
            reply.serialNo = "SN-" + std::to_string(700 + i);
            Insert(reply.Bytes());
        }
    }

    QStringList ShownNames() const
    {
        QStringList names;
        for (int row = 0; row < table_->rowCount(); ++row) {
            if (!table_->isRowHidden(row)) {
                names << Cell(row, 1);
            }
        }
        return names;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(settingsDir_.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir_.path());
    }

    void init()
    {
        OpenWindow();
        // The replies of these tests come from loopback and 192.168.1.0/24,
        // whatever the networks of the machine they run on.
        WorkstationInterface lan;
        lan.index = 1;
        lan.name = QStringLiteral("eth0");
        lan.networks = {{htonl(0x7F000001u), htonl(0xFF000000u)}, {htonl(0xC0A80101u), htonl(0xFFFFFF00u)}};
        window_->SetWorkstationInterfaces({lan});
    }

    void cleanup() { CloseWindow(); }

    void formStartsIdle()
    {
        QCOMPARE(window_->windowTitle(), QStringLiteral("QEL IP Tool"));
        const auto* search = window_->findChild<QPushButton*>(QStringLiteral("pushButtonSearch"));
        const auto* stop = window_->findChild<QPushButton*>(QStringLiteral("pushButtonStopSearch"));
        QVERIFY(search && stop);
        QCOMPARE(search->text(), QStringLiteral("&Search"));
        QCOMPARE(stop->text(), QStringLiteral("Stop Search"));
        QCOMPARE(settings_->text(), QStringLiteral("S&ettings"));
        // Each button its own Alt key.
        QStringList keys;
        for (const char* name : {"pushButtonSearch", "pushButtonSettings", "pushButtonReaddress",
                                 "pushButtonApplyTemplate", "pushButtonExport"}) {
            const QString text = Child<QPushButton>(window_, name)->text();
            const int amp = text.indexOf(QLatin1Char('&'));
            QVERIFY2(amp >= 0 && amp + 1 < text.size(), name);
            keys << text.at(amp + 1).toLower();
        }
        keys.removeDuplicates();
        QCOMPARE(keys.size(), 5);
        QVERIFY(search->isEnabled());
        QVERIFY(!stop->isEnabled());
        QVERIFY(!settings_->isEnabled());
        QVERIFY(window_->findChild<QToolBar*>(QStringLiteral("toolBar")) != nullptr);
        QCOMPARE(window_->statusBar()->currentMessage(), QString());

        QStringList headers;
        for (int column = 0; column < table_->columnCount(); ++column) {
            headers << table_->horizontalHeaderItem(column)->text();
        }
        QCOMPARE(headers, QStringList({QStringLiteral("Product name"), QStringLiteral("Device name"),
                                       QStringLiteral("IP address"), QStringLiteral("MAC address"),
                                       QStringLiteral("Network mask"), QStringLiteral("Gateway"),
                                       QStringLiteral("Static/DHCP"), QStringLiteral("Firmware"),
                                       QStringLiteral("Serial number")}));
        QCOMPARE(table_->editTriggers(), QAbstractItemView::NoEditTriggers);
        QCOMPARE(table_->selectionBehavior(), QAbstractItemView::SelectRows);
        QCOMPARE(table_->selectionMode(), QAbstractItemView::ExtendedSelection);
        QVERIFY(table_->showGrid());
        QCOMPARE(table_->rowCount(), 0);
    }

    // Each reply field lands in its column, as text a user can read; cells
    // cannot be edited.
    void replyFillsAllNineColumns()
    {
        DiscoveryReply reply;
        reply.deviceName = "Въезд \xE2\x84\x96"
                           "2"; // Cyrillic and the numero sign, UTF-8
        reply.mac[0] = 0xA0;
        reply.mac[5] = 0x0F;
        Insert(reply.Bytes());
        DiscoveryReply dhcp;
        dhcp.connectionType = 0;
        dhcp.productName = std::string(31, 'P');
        dhcp.ip[0] = 10;
        Insert(dhcp.Bytes());

        QCOMPARE(table_->rowCount(), 2);
        QCOMPARE(Cell(0, 0), QStringLiteral("VCA-100"));
        QCOMPARE(Cell(0, 1), QStringLiteral("Въезд №2"));
        QCOMPARE(Cell(0, 2), QStringLiteral("192.168.1.10"));
        QCOMPARE(Cell(0, 3), QStringLiteral("A0-1A-2B-3C-4D-0F"));
        QCOMPARE(Cell(0, 4), QStringLiteral("255.255.255.0"));
        QCOMPARE(Cell(0, 5), QStringLiteral("192.168.1.1"));
        QCOMPARE(Cell(0, 6), QStringLiteral("static"));
        QCOMPARE(Cell(0, 7), QStringLiteral("2.4.1"));
        QCOMPARE(Cell(0, 8), QStringLiteral("SN0001"));
        QCOMPARE(Cell(1, 0), QString(31, QLatin1Char('P')));
        QCOMPARE(Cell(1, 2), QStringLiteral("10.168.1.10"));
        QCOMPARE(Cell(1, 6), QStringLiteral("DHCP"));
        for (int column = 0; column < 9; ++column) {
            QVERIFY(!(table_->item(0, column)->flags() & Qt::ItemIsEditable));
        }
    }

    // Rejected datagrams leave the table alone; identical replies each get a
    // row, in arrival order.
    void onlyValidRepliesBecomeRowsDuplicatesKept()
    {
        DiscoveryReply a;
        a.deviceName = "a";
        DiscoveryReply b;
        b.deviceName = "b";
        DiscoveryReply badType;
        badType.connectionType = 2;
        QByteArray noNul = a.Bytes();
        noNul.replace(32, 32, QByteArray(32, 'x'));

        Insert(a.Bytes().left(130));
        Insert(badType.Bytes());
        Insert(noNul);
        Insert(QByteArray("discover"));
        QCOMPARE(table_->rowCount(), 0);

        Insert(b.Bytes());
        Insert(a.Bytes() + QByteArray(69, 'z')); // bytes past 131 are ignored
        Insert(b.Bytes());
        QCOMPARE(table_->rowCount(), 3);
        QCOMPARE(Cell(0, 1), QStringLiteral("b"));
        QCOMPARE(Cell(1, 1), QStringLiteral("a"));
        QCOMPARE(Cell(2, 1), QStringLiteral("b"));
    }

    // A flood of answers cannot make the table grow without bound: the rows
    // past the limit are counted and named.
    void tableHoldsAtMost20000Rows()
    {
        DiscoveryReply reply;
        ReceivedDatagram datagram;
        datagram.bytes = reply.Bytes();
        const DatagramBatch batch(20000 + 512, datagram);
        QVERIFY(QMetaObject::invokeMethod(window_, "InsertDevices", Qt::DirectConnection,
                                          Q_ARG(DatagramBatch, batch)));
        Insert(reply.Bytes());
        QVERIFY(QMetaObject::invokeMethod(window_, "OnStopSearch", Qt::DirectConnection));
        QCOMPARE(table_->rowCount(), 20000);
        QCOMPARE(window_->statusBar()->currentMessage(),
                 QStringLiteral("20000 device(s) found; 513 more answers were not listed"));
    }

    // With several rows selected the topmost counts; Settings follows the
    // selection.
    void selectionRuleAndSettingsButton()
    {
        for (int i = 0; i < 5; ++i) {
            DiscoveryReply reply;
            reply.deviceName = "dev" + std::to_string(i);
            Insert(reply.Bytes());
        }
        QCOMPARE(window_->GetDevicesSelectedRow(), -1);
        QItemSelectionModel* selection = table_->selectionModel();
        selection->select(table_->model()->index(3, 0),
                          QItemSelectionModel::Select | QItemSelectionModel::Rows);
        QCOMPARE(window_->GetDevicesSelectedRow(), 3);
        QVERIFY(settings_->isEnabled());
        selection->select(table_->model()->index(1, 0),
                          QItemSelectionModel::Select | QItemSelectionModel::Rows);
        QCOMPARE(window_->GetDevicesSelectedRow(), 1);
        selection->clearSelection();
        QCOMPARE(window_->GetDevicesSelectedRow(), -1);
        QVERIFY(!settings_->isEnabled());
    }

    // A header click sorts (addresses in numeric order) and keeps the
    // selected device selected; a double-click then opens the device that
    // was clicked, and Export writes the table as shown.
    void sortedTableOpensClickedDeviceAndExportsAsShown()
    {
        const char* const names[] = {"=1+2", "ten, \"the\" one", "hundred", "@Въезд"};
        const unsigned char lastOctets[] = {9, 10, 100, 2};
        for (int i = 0; i < 4; ++i) {
            DiscoveryReply reply = LoopbackReply(names[i], lastOctets[i]);
            Insert(reply.Bytes());
        }
        table_->selectRow(1); // "ten..."
        QHeaderView* header = table_->horizontalHeader();
        const auto clickHeader = [&](int column) {
            QTest::mouseClick(
                header->viewport(), Qt::LeftButton, Qt::NoModifier,
                QPoint(header->sectionViewportPosition(column) + header->sectionSize(column) / 2,
                       header->height() / 2));
        };
        const auto column = [&](int c) {
            QStringList cells;
            for (int row = 0; row < table_->rowCount(); ++row) {
                cells << Cell(row, c);
            }
            return cells;
        };
        clickHeader(2);
        QCOMPARE(column(2), QStringList({QStringLiteral("127.0.0.2"), QStringLiteral("127.0.0.9"),
                                         QStringLiteral("127.0.0.10"), QStringLiteral("127.0.0.100")}));
        QCOMPARE(Cell(window_->GetDevicesSelectedRow(), 1), QStringLiteral("ten, \"the\" one"));
        clickHeader(2);
        QCOMPARE(column(2), QStringList({QStringLiteral("127.0.0.100"), QStringLiteral("127.0.0.10"),
                                         QStringLiteral("127.0.0.9"), QStringLiteral("127.0.0.2")}));
        QCOMPARE(Cell(window_->GetDevicesSelectedRow(), 1), QStringLiteral("ten, \"the\" one"));

        // The top row now holds the device that arrived third.
        QString opened;
        {
            const OpenedDeviceWatch watch(window_, opened);
            ModalCloser closer(300);
            const QPoint cell = table_->visualItemRect(table_->item(0, 1)).center();
            QTest::mousePress(table_->viewport(), Qt::LeftButton, Qt::NoModifier, cell);
            QTest::mouseDClick(table_->viewport(), Qt::LeftButton, Qt::NoModifier, cell);
            QVERIFY(closer.ClosedAny());
        }
        QCOMPARE(opened, QStringLiteral("hundred"));
        QCOMPARE(Cell(0, 1), QStringLiteral("hundred"));

        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("devices.csv"));
        ModalHandler choose([&path](QWidget* modal) { return ChooseFile(modal, path); });
        window_->findChild<QPushButton*>(QStringLiteral("pushButtonExport"))->click();
        QVERIFY(choose.Done());
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        QVERIFY(bytes.startsWith("\xEF\xBB\xBF"));
        QList<QStringList> shown{{}};
        for (int c = 0; c < table_->columnCount(); ++c) {
            shown.front() << table_->horizontalHeaderItem(c)->text();
        }
        shown.front() << QStringLiteral("Problems");
        for (int row = 0; row < table_->rowCount(); ++row) {
            QStringList cells;
            for (int c = 0; c < table_->columnCount(); ++c) {
                // What a spreadsheet would run as a formula is written as text.
                const QString cell = Cell(row, c);
                cells << (cell.startsWith(QLatin1Char('=')) || cell.startsWith(QLatin1Char('@'))
                              ? QLatin1Char('\'') + cell
                              : cell);
            }
            shown << (cells << QString());
        }
        QCOMPARE(ParseCsv(QString::fromUtf8(bytes.mid(3))), shown);
        QCOMPARE(
            CsvRecord({QStringLiteral("=a"), QStringLiteral("+b"), QStringLiteral("-c"), QStringLiteral("@d"),
                       QStringLiteral("\te"), QStringLiteral("\rf"), QStringLiteral("a=b")}),
            QStringLiteral("'=a,'+b,'-c,'@d,'\te,\"'\rf\",a=b\r\n"));
        QCOMPARE(window_->statusBar()->currentMessage(), QStringLiteral("4 device(s) exported to ") + path);
    }

    // Settings opens a modal dialog on the selected row; when it closes the
    // row shows the record the dialog returned (unchanged here) and the
    // status bar the device count. The devices sit on loopback addresses, so
    // whatever the dialog tries to load never leaves this machine.
    void settingsRunsModallyAndRefreshesTheRow()
    {
        for (int i = 0; i < 3; ++i) {
            DiscoveryReply reply = LoopbackReply("dev" + std::to_string(i), 20 + i);
            Insert(reply.Bytes());
        }
        table_->selectRow(2);
        const QString before = Cell(2, 1) + Cell(2, 2);
        QCOMPARE(before, QStringLiteral("dev2127.0.0.22"));
        QStringList messages;
        connect(window_->statusBar(), &QStatusBar::messageChanged,
                [&messages](const QString& text) { messages << text; });
        ModalCloser closer;
        settings_->click();
        QVERIFY(closer.ClosedAny());
        QCOMPARE(Cell(2, 1) + Cell(2, 2), before);
        QCOMPARE(table_->rowCount(), 3);
        // The count comes first; the dialog's own messages may follow.
        QVERIFY(!messages.isEmpty());
        QCOMPARE(messages.front(), QStringLiteral("3 device(s) found"));
    }

    // The window opens with room for all nine columns; after a search each
    // column fits its texts, every cell carries its whole text as a tooltip,
    // and Enter opens the settings of the current row.
    void tableIsReadableAndEnterOpensSettings()
    {
        // As wide as the columns need, or as the screen allows.
        const int screenWidth = QGuiApplication::primaryScreen()->availableGeometry().width();
        QVERIFY(table_->horizontalHeader()->length() <= table_->viewport()->width() ||
                window_->width() == screenWidth);

        DiscoveryReply reply;
        const unsigned char loopback[4] = {127, 0, 0, 20};
        std::copy(loopback, loopback + 4, reply.ip);
        Insert(reply.Bytes());
        reply.deviceName = "Северные ворота"; // 29 bytes of UTF-8
        reply.mac[5] = 1;
        Insert(reply.Bytes());
        reply.deviceName = "<b>home</b><img src=x> &amp;";
        reply.mac[5] = 2;
        Insert(reply.Bytes());
        QVERIFY(QMetaObject::invokeMethod(window_, "OnStopSearch", Qt::DirectConnection));
        const QString name = Cell(1, 1);
        QVERIFY(table_->columnWidth(1) >= table_->fontMetrics().horizontalAdvance(name));
        // The three share one address, which every tool tip of their rows says.
        const QString shared = QStringLiteral("\nShares 127.0.0.20 with 2 other devices");
        QCOMPARE(ToolTipShows(table_->item(1, 1)->toolTip()), name + shared);
        QCOMPARE(ToolTipShows(table_->item(0, 3)->toolTip()), Cell(0, 3) + shared);
        // A name that looks like markup is shown as it is, in cell and tool tip.
        QCOMPARE(Cell(2, 1), QStringLiteral("<b>home</b><img src=x> &amp;"));
        QCOMPARE(ToolTipShows(table_->item(2, 1)->toolTip()), Cell(2, 1) + shared);

        table_->setCurrentCell(1, 0);
        table_->clearSelection();
        ModalCloser closer;
        QTest::keyClick(table_, Qt::Key_Return);
        QVERIFY(closer.ClosedAny());
        QCOMPARE(window_->GetDevicesSelectedRow(), 1);
    }

    // Each arrival judges every row again: a second device at an address
    // marks the first one too. Rows without a problem carry neither icon nor
    // problem words.
    void problemsAreJudgedAgainAsDevicesArrive()
    {
        const unsigned char addresses[][4] = {{192, 168, 1, 20}, {10, 9, 9, 9}, {192, 168, 1, 21}};
        for (const auto& address : addresses) {
            DiscoveryReply reply;
            std::copy(address, address + 4, reply.ip);
            reply.mac[5] = address[3];
            Insert(reply.Bytes());
        }
        const auto marked = [this](int row) { return !table_->item(row, 0)->icon().isNull(); };
        QVERIFY(!marked(0) && marked(1) && !marked(2));
        QCOMPARE(
            ToolTipShows(table_->item(1, 2)->toolTip()),
            QStringLiteral("10.9.9.9\nNot in this workstation's networks (127.0.0.0/8, 192.168.1.0/24)"));
        QCOMPARE(ToolTipShows(table_->item(0, 2)->toolTip()), QStringLiteral("192.168.1.20"));

        // The first device heard again is no conflict; another device is.
        DiscoveryReply again;
        std::copy(addresses[0], addresses[0] + 4, again.ip);
        again.mac[5] = addresses[0][3];
        Insert(again.Bytes());
        QVERIFY(!marked(0) && !marked(3));
        again.mac[5] = 1;
        Insert(again.Bytes());
        QVERIFY(marked(0) && marked(3) && marked(4) && !marked(2));
        QCOMPARE(ToolTipShows(table_->item(0, 1)->toolTip()),
                 QStringLiteral("camera\nShares 192.168.1.20 with 1 other device"));
        QVERIFY(QMetaObject::invokeMethod(window_, "OnStopSearch", Qt::DirectConnection));
        QCOMPARE(window_->statusBar()->currentMessage(),
                 QStringLiteral("5 device(s) found; 3 share an IP address with another device; 1 are outside "
                                "this workstation's networks"));
    }

    // The context menu acts on the row that was right-clicked, also in a
    // sorted table: its addresses reach the clipboard as the table shows
    // them, its web page goes to the desktop, and Settings opens that device.
    void rowMenuActsOnTheClickedRow()
    {
        for (int i = 0; i < 3; ++i) {
            DiscoveryReply reply = LoopbackReply("dev" + std::to_string(i), 30 + i);
            reply.mac[5] = static_cast<unsigned char>(0xA0 + i);
            Insert(reply.Bytes());
        }
        table_->horizontalHeader()->setSortIndicator(2, Qt::DescendingOrder);
        QCOMPARE(Cell(0, 1), QStringLiteral("dev2"));

        QCOMPARE(ChooseFromRowMenu(0, "actionCopyIpAddress"),
                 QStringList({QStringLiteral("Settings\u2026"), QStringLiteral("Open web page"),
                              QStringLiteral("Copy IP address"), QStringLiteral("Copy MAC address")}));
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("127.0.0.32"));
        ChooseFromRowMenu(1, "actionCopyMacAddress");
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("00-1A-2B-3C-4D-A1"));
        QCOMPARE(window_->GetDevicesSelectedRow(), 1);

        UrlCatcher browser;
        QDesktopServices::setUrlHandler(QStringLiteral("http"), &browser, "Open");
        ChooseFromRowMenu(2, "actionOpenWebPage");
        QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
        QCOMPARE(browser.urls, QList<QUrl>{QUrl(QStringLiteral("http://127.0.0.30/"))});

        QString opened;
        const OpenedDeviceWatch watch(window_, opened);
        ModalCloser closer(300);
        ChooseFromRowMenu(0, "actionRowSettings");
        QVERIFY(closer.ClosedAny());
        QCOMPARE(opened, QStringLiteral("dev2"));
    }

    // Ctrl+F goes to the filter; it hides the rows whose name, IP, MAC and
    // serial do not hold the text (any case; a MAC also with colons), the
    // status counts both, and what acts on rows takes the shown ones only.
    void filterHidesCountsAndActsOnShownRows()
    {
        InsertSite();
        QVERIFY(QMetaObject::invokeMethod(window_, "OnStopSearch", Qt::DirectConnection));
        auto* filter = Child<QLineEdit>(window_, "lineEditFilter");
        QCOMPARE(filter->placeholderText(), QStringLiteral("Filter: name, IP, MAC or serial"));
        window_->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window_));
        table_->setFocus();
        QTest::keyClick(window_, Qt::Key_F, Qt::ControlModifier);
        QCOMPARE(QApplication::focusWidget(), filter);

        QTest::keyClicks(filter, QStringLiteral("GATE"));
        QCOMPARE(ShownNames(), QStringList({QStringLiteral("Gate North"), QStringLiteral("gate south"),
                                            QStringLiteral("Gatehouse")}));
        QCOMPARE(status_->currentMessage(), QStringLiteral("12 device(s) found; 3 shown"));
        filter->setText(QStringLiteral("sn-705"));
        QCOMPARE(ShownNames(), QStringList{QStringLiteral("Canteen")});
        filter->setText(QStringLiteral("4d:2f")); // MAC ...-4D-2F, 127.0.0.47
        QCOMPARE(ShownNames(), QStringList{QStringLiteral("Roof")});
        filter->setText(QStringLiteral("127.0.0.5"));
        QCOMPARE(ShownNames(), QStringList({QStringLiteral("Stairs"), QStringLiteral("Gatehouse")}));

        // Select all takes hidden rows too; neither Settings nor Export does.
        table_->selectAll();
        QCOMPARE(Cell(window_->GetDevicesSelectedRow(), 1), QStringLiteral("Stairs"));
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("shown.csv"));
        QString error;
        QVERIFY2(window_->ExportTable(path, error), qPrintable(error));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QList<QStringList> rows = ParseCsv(QString::fromUtf8(file.readAll().mid(3)));
        QCOMPARE(rows.size(), 3);
        QCOMPARE(rows.at(1).at(1), QStringLiteral("Stairs"));
        QCOMPARE(rows.at(2).at(1), QStringLiteral("Gatehouse"));

        filter->clear();
        QCOMPARE(ShownNames().size(), 12);
        QCOMPARE(status_->currentMessage(), QStringLiteral("12 device(s) found"));
    }

    // A message of the settings dialog names the device it is about in the
    // window's status bar.
    void dialogMessagesNameTheirDevice()
    {
        for (int i = 0; i < 3; ++i) {
            Insert(LoopbackReply("Gate " + std::to_string(i), 60 + i).Bytes());
        }
        table_->selectRow(1);
        QString shown;
        ModalHandler sayAndClose([&](QWidget* modal) {
            auto* dialog = qobject_cast<SettingsDialog*>(modal);
            if (dialog == nullptr) {
                modal->close(); // what the dialog could not load from a loopback address
                return false;
            }
            emit dialog->StatusChanged(QStringLiteral("Failed to apply the zones"), 0);
            shown = status_->currentMessage();
            dialog->close();
            return true;
        });
        settings_->click();
        QVERIFY(sayAndClose.Done());
        QCOMPARE(shown, QStringLiteral("Gate 1 (127.0.0.61): Failed to apply the zones"));
    }

    // Export opens in the folder of the last export and proposes a dated
    // name of its own.
    void exportRemembersItsFolder()
    {
        Insert(LoopbackReply("dev", 70).Bytes());
        QTemporaryDir dir;
        const QString first = dir.filePath(QStringLiteral("first.csv"));
        auto* exportButton = Child<QPushButton>(window_, "pushButtonExport");
        QString proposed;
        {
            ModalHandler choose([&](QWidget* modal) {
                if (auto* files = qobject_cast<QFileDialog*>(modal)) {
                    proposed = files->selectedFiles().value(0);
                }
                return ChooseFile(modal, first);
            });
            exportButton->click();
            QVERIFY(choose.Done());
        }
        QVERIFY(QFile::exists(first));
        const QRegularExpression dated(QStringLiteral("^devices-\\d{8}-\\d{4}\\.csv$"));
        QVERIFY2(dated.match(QFileInfo(proposed).fileName()).hasMatch(), qPrintable(proposed));

        ModalHandler look([&](QWidget* modal) {
            auto* files = qobject_cast<QFileDialog*>(modal);
            if (files == nullptr) {
                return false;
            }
            proposed = files->selectedFiles().value(0);
            files->reject();
            return true;
        });
        exportButton->click();
        QVERIFY(look.Done());
        QCOMPARE(QFileInfo(proposed).absolutePath(), QFileInfo(first).absolutePath());
        QVERIFY2(dated.match(QFileInfo(proposed).fileName()).hasMatch(), qPrintable(proposed));
    }

    // The window on a laptop screen with a filter typed.
    void screenshotWithFilter()
    {
        InsertSite();
        QVERIFY(QMetaObject::invokeMethod(window_, "OnStopSearch", Qt::DirectConnection));
        window_->resize(1366, 768);
        QTest::keyClicks(Child<QLineEdit>(window_, "lineEditFilter"), QStringLiteral("gate"));
        table_->selectRow(table_->rowCount() - 1);
        QCOMPARE(status_->currentMessage(), QStringLiteral("12 device(s) found; 3 shown"));
        const QString folder = QStringLiteral(QEL_SCREENSHOT_DIR);
        QVERIFY(QDir().mkpath(folder));
        const QString file = folder + QStringLiteral("/main-window-filter-1366x768.png");
        const QPixmap shot = window_->grab();
        QCOMPARE(shot.size(), QSize(1366, 768));
        QVERIFY2(shot.save(file), qPrintable(file));
    }
};

QTEST_MAIN(SearchWindowTest)
#include "SearchWindowTest.moc"

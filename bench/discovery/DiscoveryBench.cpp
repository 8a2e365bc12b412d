// How many devices one search lists, and how fast: N simulated devices in one
// simulator process (one device namespace of the virtual LAN) answer a single
// search as fast as they can. For each N it reports the rows the search
// window shows once the listening time is over, and when the last row
// appeared after the Search click. Only rows of this benchmark's devices
// count (their MAC addresses start with 02-BE), since other simulators may
// share the LAN. Runs inside the workstation namespace:
//   scripts/virtual-lan up 1
//   scripts/virtual-lan exec ws build/bench/discovery/qel_discovery_bench [ROUNDS]
#include "ClientMainForm.h"
#include "SimDevice.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QStatusBar>
#include <QTableWidget>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr int kDeviceCounts[] = {10, 100, 1000};
// The search ends by itself after its listening time; this only bounds a
// broken run.
constexpr int kSearchEndTimeoutMs = 15000;

// MAC address of the benchmark's first device; the others count up from it.
const QString kMacArgument = QStringLiteral("02:BE:00:00:00:00");
const QString kMacPrefix = QStringLiteral("02-BE-");
constexpr int kMacColumn = 3;

struct Round {
    int rows = 0;
    qint64 lastRowMs = -1;
};

Round SearchOnce()
{
    ClientMainForm window;
    window.show();
    auto* table = window.findChild<QTableWidget*>(QStringLiteral("tableWidgetDevices"));
    auto* search = window.findChild<QPushButton*>(QStringLiteral("pushButtonSearch"));
    QElapsedTimer clock;
    Round round;
    QObject::connect(table->model(), &QAbstractItemModel::rowsInserted,
                     [&round, &clock] { round.lastRowMs = clock.elapsed(); });
    clock.start();
    search->click();
    QElapsedTimer bound;
    bound.start();
    while (!search->isEnabled() && bound.elapsed() < kSearchEndTimeoutMs) {
        QTest::qWait(10);
    }
    for (int row = 0; row < table->rowCount(); ++row) {
        const QTableWidgetItem* mac = table->item(row, kMacColumn);
        round.rows += mac != nullptr && mac->text().startsWith(kMacPrefix) ? 1 : 0;
    }
    return round;
}

} // namespace

int main(int argc, char* argv[])
{
    // Defaults for running from the build tree; ctest-style variables win.
    if (qEnvironmentVariableIsEmpty("QEL_SIM")) {
        qputenv("QEL_SIM", QEL_SIM_PATH);
    }
    if (qEnvironmentVariableIsEmpty("QEL_SOURCE_DIR")) {
        qputenv("QEL_SOURCE_DIR", QEL_SOURCE_PATH);
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;

    std::printf("discovery: one search, N devices in one simulator process, %d round(s) each\n", rounds);
    std::printf("%8s %12s %22s %22s\n", "devices", "rows (min)", "last row ms (median)", "last row ms (max)");
    int failures = 0;
    for (const int count : kDeviceCounts) {
        SimDevice sim(
            QStringLiteral("dev1"),
            {QStringLiteral("--count"), QString::number(count), QStringLiteral("--mac"), kMacArgument},
            QStringLiteral("udp"));
        if (!sim.IsReady()) {
            std::fprintf(stderr, "discovery: simulator did not start (is the virtual LAN up?)\n");
            return 77;
        }
        std::vector<int> rows;
        std::vector<qint64> lastRow;
        for (int i = 0; i < rounds; ++i) {
            const Round round = SearchOnce();
            rows.push_back(round.rows);
            lastRow.push_back(round.lastRowMs);
        }
        std::sort(lastRow.begin(), lastRow.end());
        const int minRows = *std::min_element(rows.begin(), rows.end());
        std::printf("%8d %7d/%-4d %22lld %22lld\n", count, minRows, count,
                    static_cast<long long>(lastRow[lastRow.size() / 2]),
                    static_cast<long long>(lastRow.back()));
        std::fflush(stdout);
        failures += minRows != count ? 1 : 0;
    }
    if (failures > 0) {
        std::printf("discovery: some searches listed fewer rows than devices answered\n");
    }
    return failures > 0 ? 1 : 0;
}

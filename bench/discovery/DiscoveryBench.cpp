// How many devices one search lists, and how fast: simulated devices (one
// simulator process per LAN segment) answer a single search as fast as they
// can. For each case it reports the rows the search window shows once the
// listening time is over, and when the last row appeared after the Search
// click. Each case runs with the receive buffer the search asks for set to
// the kernel's stock cap (net.core.rmem_max of a stock kernel, 212992 bytes)
// and to 4 MiB, so the stock cap can be seen on a machine that allows more.
// Only rows of this benchmark's devices count (their MAC addresses start
// with 02-BE on the first segment and 02-BF on the second), since other
// simulators may share the LAN. Runs inside the workstation namespace:
//   scripts/virtual-lan up 1 --second 1
//   scripts/virtual-lan exec ws build/bench/discovery/qel_discovery_bench [ROUNDS]
// With --short it runs one round of the case that must list every device
// under the stock cap (1000 devices, one segment) and nothing else, as the
// test suite does; the exit status is 1 when a device is missing.
#include "ClientMainForm.h"
#include "BenchLan.h"
#include "SimDevice.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <vector>

namespace {

// The search ends by itself after its listening time; this only bounds a
// broken run.
constexpr int kSearchEndTimeoutMs = 15000;
constexpr int kMacColumn = 3;
const char kReceiveBufferVariable[] = "QEL_UDP_RECEIVE_BUFFER_BYTES";

struct Buffer {
    const char* label;
    const char* bytes;
};
const Buffer kBuffers[] = {{"stock cap", "212992"}, {"4 MiB", "4194304"}};

struct Segment {
    const char* deviceNamespace;
    const char* firstMac;
    const char* macPrefix;
};
const Segment kFirst{"dev1", "02:BE:00:00:00:00", "02-BE-"};
const Segment kSecond{"s2dev1", "02:BF:00:00:00:00", "02-BF-"};

struct Case {
    std::vector<Segment> segments;
    int devicesPerSegment;
    bool mustListAll; // under the stock cap: 1000 on one segment; with 4 MiB: every case
};

struct Round {
    std::vector<int> rows; // per segment
    qint64 lastRowMs = -1;
};

Round SearchOnce(const std::vector<Segment>& segments)
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
    round.rows.assign(segments.size(), 0);
    for (int row = 0; row < table->rowCount(); ++row) {
        const QTableWidgetItem* mac = table->item(row, kMacColumn);
        for (size_t s = 0; s < segments.size(); ++s) {
            if (mac != nullptr && mac->text().startsWith(QLatin1String(segments[s].macPrefix))) {
                ++round.rows[s];
            }
        }
    }
    return round;
}

} // namespace

int main(int argc, char* argv[])
{
    UseThisBuildsSimulator();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    const bool shortForm = argc > 1 && std::strcmp(argv[1], "--short") == 0;
    const int rounds = shortForm ? 1 : argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;

    const std::vector<Case> cases = shortForm ? std::vector<Case>{{{kFirst}, 1000, true}}
                                              : std::vector<Case>{
                                                    {{kFirst}, 1000, true},
                                                    {{kFirst}, 5000, false},
                                                    {{kFirst, kSecond}, 1000, false},
                                                };
    // The short form keeps to the stock cap: the larger buffer would hide
    // a receive thread that does not keep up.
    const size_t buffers = shortForm ? 1 : std::size(kBuffers);
    std::printf("discovery: one search, one simulator process per segment, %d round(s) each\n", rounds);
    std::printf("%-10s %9s %8s %20s %22s %18s\n", "buffer", "segments", "devices", "rows per segment (min)",
                "last row ms (median)", "last row ms (max)");
    int failures = 0;
    for (const Case& c : cases) {
        std::vector<std::unique_ptr<SimDevice>> sims;
        for (const Segment& segment : c.segments) {
            sims.push_back(std::make_unique<SimDevice>(
                QString::fromLatin1(segment.deviceNamespace),
                QStringList{QStringLiteral("--count"), QString::number(c.devicesPerSegment),
                            QStringLiteral("--mac"), QString::fromLatin1(segment.firstMac)},
                QStringLiteral("udp")));
            if (!sims.back()->IsReady()) {
                std::fprintf(stderr,
                             "discovery: simulator in %s did not start (is the virtual LAN up with "
                             "a second segment?)\n",
                             segment.deviceNamespace);
                return 77;
            }
        }
        for (size_t b = 0; b < buffers; ++b) {
            const Buffer& buffer = kBuffers[b];
            qputenv(kReceiveBufferVariable, buffer.bytes);
            std::vector<int> minRows(c.segments.size(), c.devicesPerSegment);
            std::vector<qint64> lastRow;
            for (int i = 0; i < rounds; ++i) {
                const Round round = SearchOnce(c.segments);
                for (size_t s = 0; s < c.segments.size(); ++s) {
                    minRows[s] = std::min(minRows[s], round.rows[s]);
                }
                lastRow.push_back(round.lastRowMs);
            }
            std::sort(lastRow.begin(), lastRow.end());
            QString rows;
            bool all = true;
            for (const int n : minRows) {
                rows += (rows.isEmpty() ? QString() : QStringLiteral(" + ")) +
                        QStringLiteral("%1/%2").arg(n).arg(c.devicesPerSegment);
                all = all && n == c.devicesPerSegment;
            }
            const bool must = c.mustListAll || buffer.bytes == kBuffers[1].bytes;
            std::printf("%-10s %9zu %8d %22s %22lld %18lld%s\n", buffer.label, c.segments.size(),
                        c.devicesPerSegment, qPrintable(rows),
                        static_cast<long long>(lastRow[lastRow.size() / 2]),
                        static_cast<long long>(lastRow.back()), must && !all ? "  (short)" : "");
            std::fflush(stdout);
            failures += must && !all ? 1 : 0;
        }
    }
    qunsetenv(kReceiveBufferVariable);
    if (failures > 0) {
        std::printf("discovery: some searches listed fewer rows than devices answered\n");
    }
    return failures > 0 ? 1 : 0;
}

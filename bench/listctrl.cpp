// The IP list at the largest size the session protocol allows (7228 rows):
// filling it with texts, colours and check states, and sorting it by each of
// the three sort kinds, with the list on an (offscreen) screen.
#include "widgets/clistctrlex.h"

#include <QApplication>

#include <benchmark/benchmark.h>

#include <random>

namespace {

constexpr int kRows = 7228;

struct RowText
{
    QString address, id, state, memo;
};

const std::vector<RowText> &rows()
{
    static const std::vector<RowText> data = [] {
        std::vector<RowText> out;
        std::mt19937 rng(7228);
        const QString states[] = {QStringLiteral("사용가능"), QStringLiteral("사용중"),
                                  QStringLiteral("다른PC 사용중"), QStringLiteral("불량신고")};
        for (int i = 0; i < kRows; ++i) {
            RowText r;
            r.address = QStringLiteral("%1.%2.%3.%4")
                            .arg(rng() % 223 + 1)
                            .arg(rng() % 256)
                            .arg(rng() % 256)
                            .arg(rng() % 254 + 1);
            // IDs as the service writes them: whole numbers and "@n" sub-accounts.
            r.id = (i % 3 == 0) ? QStringLiteral("@%1").arg(rng() % 1000)
                                : QString::number(rng() % 100000 + 1);
            r.state = states[rng() % 4];
            r.memo = QStringLiteral("메모 %1").arg(rng() % 5000);
            out.push_back(r);
        }
        return out;
    }();
    return data;
}

void setUpColumns(CListCtrlEx &list)
{
    list.setCheckBoxes(true);
    list.setHideHorizontalBar(true);
    list.insertColumn(0, QStringLiteral("IP"), 110);
    list.insertColumn(1, QStringLiteral("ID"), 60);
    list.insertColumn(2, QStringLiteral("상태"), 80);
    list.insertColumn(3, QStringLiteral("메모"), 80);
    list.setColumnSort(0, ListSort::Kind::Address, CListCtrlEx::SortToggle);
    list.setColumnSort(1, ListSort::Kind::NumberOrText, CListCtrlEx::SortToggle);
    list.setColumnSort(3, ListSort::Kind::Text, CListCtrlEx::SortToggle);
    list.resize(347, 222);
    list.show();
}

void fill(CListCtrlEx &list)
{
    const quint32 colours[] = {CListCtrlEx::kNoColor, 0x80FF80, 0xC0C0FF, 0xD0D0D0};
    int i = 0;
    for (const RowText &r : rows()) {
        const int row = list.insertItem(list.itemCount(), r.address);
        list.setItemText(row, 1, r.id);
        list.setItemText(row, 2, r.state);
        list.setItemText(row, 3, r.memo);
        list.setItemColor(row, colours[i % 4]);
        if (i % 3 == 0)
            list.setCheck(row, true);
        ++i;
    }
}

void BM_Fill7228RowsWithColoursAndChecks(benchmark::State &state)
{
    CListCtrlEx list;
    setUpColumns(list);
    for (auto _ : state) {
        list.deleteAllItems();
        fill(list);
        QApplication::processEvents(); // the view's layout and paint
        benchmark::DoNotOptimize(list.itemCount());
    }
    state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK(BM_Fill7228RowsWithColoursAndChecks)->Unit(benchmark::kMillisecond);

void sortBench(benchmark::State &state, int column)
{
    CListCtrlEx list;
    setUpColumns(list);
    fill(list);
    QApplication::processEvents();
    for (auto _ : state) {
        // Each click reverses the direction, as the header does.
        list.sortColumn(column, true);
        QApplication::processEvents();
        benchmark::DoNotOptimize(list.itemText(0, column));
    }
    state.SetItemsProcessed(state.iterations() * kRows);
}

void BM_SortByAddress(benchmark::State &state)
{
    sortBench(state, 0);
}
BENCHMARK(BM_SortByAddress)->Unit(benchmark::kMillisecond);

void BM_SortByNumberOrText(benchmark::State &state)
{
    sortBench(state, 1);
}
BENCHMARK(BM_SortByNumberOrText)->Unit(benchmark::kMillisecond);

void BM_SortByText(benchmark::State &state)
{
    sortBench(state, 3);
}
BENCHMARK(BM_SortByText)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

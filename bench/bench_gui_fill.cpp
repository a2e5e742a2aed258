// The main window on the offscreen platform: from a click on "Benutzer" to the browser's rows
// painted, over a container of 2,000 and 20,000 users, beside the bare listing of the same
// container with nothing else (no window messages handled). The window's own share (deny list,
// sort, filters, list-view rows, pumping messages, painting) should keep the whole within three
// times the listing.
#include "bench_embedded_trees.h"
#include "main/tform1.h"
#include "main/widgets.h"
#include "nwapi/nwapi.h"
#include "nwclient/client_setup.h"
#include "platform/qt/qt_ports.h"
#include "platform/recording.h"

#include <QApplication>
#include <QTest>

#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>

namespace {

const std::string kContainer = "K00001.SCHUELER.UNTERRICHT";

// The Qt hourglass and pump as in the program; boxes are recorded so nothing waits for a click.
struct BenchPorts {
    platform::RecordingMessageBox box;
    platform::qt::QtBusyCursor cursor;
    platform::qt::QtEventPump pump{&cursor};
    // withPump false: the listing alone, without handling any window messages.
    explicit BenchPorts(bool withPump = true) {
        cursor.onIdle = [this] { pump.endProgress(); };
        platform::Ports p;
        p.messageBox = &box;
        p.busyCursor = &cursor;
        if (withPump) p.eventPump = &pump;
        platform::installPorts(p);
    }
    ~BenchPorts() {
        cursor.onIdle = nullptr;
        platform::installPorts(platform::Ports{});
    }
};

std::string connect(int users) {
    nwapi::DoneNWConnection();
    nw::resetClient();
    nwapi::resetLayerForTesting();
    // A few deny members, so the deny list is filled as well (and no box is shown).
    const std::string tree = benchtrees::tree(users, 1, 50);
    const std::filesystem::path folder = std::filesystem::path(tree).parent_path();
    const std::string conf = (folder / "gui-nwclient.conf").string();
    std::ofstream(conf, std::ios::trunc) << "Tree=sqlite:" << tree << "\nOperator=admin.UNTERRICHT\n";
    nw::setConfigurationFile(conf);
    const std::string ini = (folder / "gui-tarvel.ini").string();
    std::ofstream(ini, std::ios::trunc | std::ios::binary)
        << "[TYP]\r\nTYP=Tarvel\r\nVer=100\r\n[DEFAULT]\r\nBasisUserContainer=" << kContainer
        << "\r\nGroupInternetUserDeny=.G_User_Internet_Deny.PROJEKTE.UNTERRICHT\r\n";
    return ini;
}

void BM_BenutzerToRowsPainted(benchmark::State& state) {
    BenchPorts ports;
    const std::string ini = connect(int(state.range(0)));
    TForm1 form(std::vector<std::string>{"tarvel", "/ini=" + ini});
    form.show();
    form.FormActivate();
    QCoreApplication::processEvents();
    for (auto _ : state) {
        QTest::mouseClick(form.BUser, Qt::LeftButton);
        QCoreApplication::processEvents();  // the views lay their rows out
        form.LVCtxBrowser->viewport()->repaint();
        form.LVGroupDeny->viewport()->repaint();
        if (form.LVCtxBrowser->count() != int(state.range(0)) + 1) state.SkipWithError("rows missing");
    }
    if (!ports.box.boxes.empty()) state.SkipWithError(("a box: " + ports.box.boxes.front().text).c_str());
    state.SetComplexityN(state.range(0));
    form.hide();
}
BENCHMARK(BM_BenutzerToRowsPainted)->Arg(2000)->Arg(20000)->Unit(benchmark::kMillisecond)->Complexity();

void BM_ListingAlone(benchmark::State& state) {
    BenchPorts ports(false);
    connect(int(state.range(0)));
    bool ok = false;
    nwapi::InitNWConnection(ok);
    if (!ok) state.SkipWithError("no connection");
    nwapi::SetzeContext("[root]");
    for (auto _ : state) {
        text::NameList list;
        nwapi::ListeUnterobjekte(kContainer, list, 0);
        benchmark::DoNotOptimize(list.data());
        if (list.size() != size_t(state.range(0))) state.SkipWithError("entries missing");
    }
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_ListingAlone)->Arg(2000)->Arg(20000)->Unit(benchmark::kMillisecond)->Complexity();

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    nwapi::DoneNWConnection();
    return 0;
}

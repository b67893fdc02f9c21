// bench_pipewire_download: bank downloads from bankquill-virtual-karma at the real MIDI rate
// (3125 bytes per second) through PipeWire's JACK library, into the Workstation view, from the
// expansion of a bank node to its 128 items in the tree: a Combination bank and a Program bank,
// their summed time over their summed time on the wire, printed last.
//
// It runs on a private PipeWire that scripts/run-benchmarks.sh starts (scripts/
// private-pipewire.sh), through PipeWire's JACK library, and refuses any other server.
#include <jack/jack.h>

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "DownloadRig.h"
#include "midi/JackServerInfo.h"
#include "tools/virtual-karma/VirtualKarma.h"
#include "workstation/MIDIProgressDlg.h"

namespace {

constexpr std::uint32_t kMidiRate = 3125;

// Empty when this process reaches the private PipeWire of the benchmark command.
std::string ServerProblem() {
    const auto library = bq::midi::ParseJackVersion(jack_get_version_string());
    if (!library || !library->pipeWire) {
        return "not PipeWire's JACK library; run it through scripts/run-benchmarks.sh";
    }
    const char* own = std::getenv("BQ_TEST_JACK_SERVER");
    const char* runtime = std::getenv("PIPEWIRE_RUNTIME_DIR");
    if (own == nullptr || runtime == nullptr ||
        std::string(own) != std::string("pipewire:") + runtime) {
        return "not the private PipeWire of scripts/run-benchmarks.sh";
    }
    return {};
}

// "PipeWire 0.3.65, quantum 256 frames at 48000 Hz", from a client of its own.
std::string ServerAndQuantum() {
    jack_status_t status{};
    jack_client_t* client = jack_client_open("bankquill-bench-info", JackNoStartServer, &status);
    if (client == nullptr) {
        return {};
    }
    char text[160];
    std::snprintf(text, sizeof text, "%s, quantum %u frames at %u Hz",
                  bq::midi::DescribeJackServer(jack_get_version_string(), "").c_str(),
                  jack_get_buffer_size(client), jack_get_sample_rate(client));
    jack_client_close(client);
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    if (const std::string problem = ServerProblem(); !problem.empty()) {
        std::fprintf(stderr, "bench: %s\n", problem.c_str());
        return 1;
    }
    const std::string server = ServerAndQuantum();
    if (server.empty()) {
        std::fprintf(stderr, "bench: the private PipeWire does not answer\n");
        return 1;
    }
    std::printf("%s\n", server.c_str());
    QApplication app(argc, argv);
    const bq::VirtualKarma memory;

    bq::bench::DownloadRig rig;
    if (!rig.StartOnServer(BQ_VIRTUAL_KARMA, kMidiRate)) {
        return 1;
    }
    double took = 0;
    double wire = 0;
    for (const int group : {0, 1}) {
        // The dialog's count of what came, for when it does not all come.
        std::uint32_t received = 0;
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, [&] {
            if (CMIDIProgressDlg* dialog = rig.Workstation()->ProgressDialog()) {
                received = dialog->Received();
            }
        });
        watch.start(100);
        const auto seconds = rig.Download(rig.BankNode(group, 0), 120000);
        if (!seconds || rig.presenter.shown != 0) {
            std::fprintf(stderr, "bench: bank A of group %d did not arrive (%u bytes came)\n",
                         group, received);
            return 1;
        }
        const double bytes = static_cast<double>(group == 0 ? memory.CombiBankDump(0).size()
                                                            : memory.ProgramBankDump(0).size());
        const double onWire = bytes / kMidiRate;
        std::printf("%u bytes/s: %s bank A, %.0f bytes in %.3f s, %.3f s on the wire, ratio %.4f\n",
                    kMidiRate, group == 0 ? "Combination" : "Program", bytes, *seconds, onWire,
                    *seconds / onWire);
        took += *seconds;
        wire += onWire;
    }
    std::printf("bank_download_vs_wire_ratio: %.4f\n", took / wire);
    return 0;
}

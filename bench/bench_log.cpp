// Session log under a flood: a 64 MiB flood from the simulated device
// through the reader into a counting sink, without a log and with a log with
// timestamps. Each logged run checks that the log, its timestamps taken
// off, is exactly the flood. Prints min and median of the runs.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <unistd.h>
#include <vector>

#include "BenchSerialSupport.h"
#include "log/SessionLog.h"

using namespace bench;

namespace {

// The log's text without the "[2026-12-08 12:00:00.123] " at each line start;
// false when a line lacks it.
bool StripTimestamps(const std::string& path, std::string& text)
{
    std::ifstream in(path, std::ios::binary);
    text.clear();
    std::string line;
    while (std::getline(in, line)) {
        if (line.size() < 26 || line[0] != '[' || line[24] != ']')
            return false;
        text.append(line, 26, std::string::npos);
        if (!in.eof())
            text += '\n';
    }
    return true;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    const std::size_t total = 64u << 20;
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    const std::string path = (std::filesystem::temp_directory_path() / ("bench_log_" + std::to_string(getpid()) + ".log")).string();
    std::string flood(total, '\0');
    for (std::size_t i = 0; i < total; ++i)
        flood[i] = CDevSim::FloodByte(i);

    SBenchPort p(CDevSim::EMode::Silent);
    CSessionLog log;
    p.port.AddByteObserver(&log);
    std::vector<double> plain, logged;
    bool exact = true;
    for (int run = 1; run <= runs; ++run) {
        for (const bool logging : {false, true}) {
            if (logging && !log.Start(path, {true, false, false, false}).ok) {
                std::printf("cannot start the log at %s\n", path.c_str());
                return 1;
            }
            p.sink.Reset(total);
            const auto start = Clock::now();
            p.device.Flood(total);
            if (!p.sink.Wait(300000)) {
                std::printf("run %d: the flood did not arrive within 300 s\n", run);
                return 1;
            }
            const double ms = MsBetween(start, Clock::now());
            const double rate = total / 1048576.0 / (ms / 1000.0);
            (logging ? logged : plain).push_back(rate);
            std::printf("run %d %-16s %.0f ms = %.1f MiB/s", run, logging ? "with log:" : "without log:", ms, rate);
            if (logging) {
                const SResult stopped = log.Stop();
                const uint64_t size = std::filesystem::file_size(path);
                std::string text;
                const bool same = stopped.ok && StripTimestamps(path, text) && text == flood;
                exact = exact && same;
                std::printf(", log %.1f MiB, %s", size / 1048576.0,
                            same ? "every byte in the log" : "LOG DIFFERS FROM THE FLOOD");
            }
            std::printf("\n");
        }
    }
    std::filesystem::remove(path);
    p.port.Close();
    p.port.RemoveByteObserver(&log);
    const double cost = 100.0 * (1.0 - Median(logged) / Median(plain));
    std::printf("without log: min %.1f median %.1f MiB/s; with log: min %.1f median %.1f MiB/s; cost %.1f %% (median)\n",
                *std::min_element(plain.begin(), plain.end()), Median(plain),
                *std::min_element(logged.begin(), logged.end()), Median(logged), cost);
    return exact ? 0 : 1;
}

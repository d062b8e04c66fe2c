// vorlash as a user runs it: start-up to the first prompt (`echo exit |
// vorlash`), resident memory idle at the prompt, and SendOutR's round trip
// against the demo modem (with its 30 ms answer delay). Min and median of
// several runs.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "devsim/DevSim.h"

namespace {

using Clock = std::chrono::steady_clock;

// Starts vorlash with its standard input and output on pipes.
pid_t Spawn(const std::vector<std::string>& args, int& in, int& out)
{
    int i[2], o[2];
    if (pipe2(i, O_CLOEXEC) != 0 || pipe2(o, O_CLOEXEC) != 0)
        return -1;
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(i[0], 0);
        dup2(o[1], 1);
        std::vector<char*> argv;
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(i[0]);
    close(o[1]);
    in = i[1];
    out = o[0];
    return pid;
}

// Reads until `text` arrives (or the stream ends); what was read.
std::string ReadUntil(int fd, const std::string& text)
{
    std::string got;
    char buffer[4096];
    while (got.find(text) == std::string::npos) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 20000) <= 0)
            break;
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        got.append(buffer, size_t(n));
    }
    return got;
}

void Finish(pid_t pid, int in, int out)
{
    close(in);
    close(out);
    waitpid(pid, nullptr, 0);
}

double ResidentMb(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stod(line.substr(6)) / 1024.0;
    return 0;
}

void Report(const char* what, std::vector<double> values, const char* unit)
{
    std::sort(values.begin(), values.end());
    std::printf("%-42s min %8.2f  median %8.2f %s  (%zu runs)\n", what, values.front(), values[values.size() / 2],
                unit, values.size());
}

} // namespace

int main()
{
    const int kRuns = 5;
    std::vector<double> startMs, residentMb, roundTripMs;
    for (int run = 0; run < kRuns; ++run) {
        int in = -1, out = -1;
        const auto start = Clock::now();
        const pid_t pid = Spawn({VORLASH_PATH}, in, out);
        if (write(in, "exit\n", 5) != 5)
            return 1;
        close(in);
        ReadUntil(out, "\x01"); // to the end of its output
        close(out);
        waitpid(pid, nullptr, 0);
        startMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    for (int run = 0; run < kRuns; ++run) {
        int in = -1, out = -1;
        const pid_t pid = Spawn({VORLASH_PATH}, in, out);
        if (write(in, "puts ready\n", 11) != 11)
            return 1;
        ReadUntil(out, "ready\n");
        residentMb.push_back(ResidentMb(pid));
        Finish(pid, in, out);
    }
    CDevSim modem;
    CDevSim::SOptions options;
    options.answerDelayMs = 30; // as vorla --demo plays it
    std::string error;
    if (!modem.Start(options, error)) {
        std::fprintf(stderr, "devsim: %s\n", error.c_str());
        return 1;
    }
    for (int run = 0; run < kRuns; ++run) {
        int in = -1, out = -1;
        const pid_t pid = Spawn({VORLASH_PATH, "--port", "COM1=" + modem.Path(), "--connect", "COM1"}, in, out);
        const std::string command = "puts [lindex [time {SendOutR \"AT\\r\"} 5] 0]\n";
        if (write(in, command.data(), command.size()) != ssize_t(command.size()))
            return 1;
        const std::string got = ReadUntil(out, "\n");
        roundTripMs.push_back(std::atof(got.c_str()) / 1000.0);
        Finish(pid, in, out);
    }
    modem.Stop();
    Report("start-up to exit (echo exit | vorlash)", startMs, "ms");
    Report("resident memory idle at the prompt", residentMb, "MB");
    Report("SendOutR AT round trip (read delay 200 ms)", roundTripMs, "ms");
    return 0;
}

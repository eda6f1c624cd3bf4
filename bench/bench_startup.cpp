// Start-up: from process start to the window shown and the endpoint bound (offscreen platform),
// and the peak resident memory by then.
//
// Two measures, each over several fresh processes:
//  - this program started again as a child that does what the tool's main() does (application,
//    font, translator, window, show), waits until the window is exposed and painted, checks the
//    endpoint is bound, and reports the monotonic clock and its peak RSS; the parent took the clock
//    right before spawning it;
//  - the tool itself (build/.../src/tarvik): the time until port 65002 is bound, seen from outside
//    in /proc/net/udp, and its peak RSS at that moment.
// Opens port 65002: runs only in a private network namespace.
#include "app/application.h"
#include "app/mainform.h"
#include "stats.h"
#include "support/netns.h"

#include <QApplication>
#include <QWindow>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

using namespace tarvik;
using namespace tarvik::bench;

namespace {

int child(int argc, char* argv[])
{
    // As the tool's main().
    QApplication app(argc, argv);
    setUpApplication(app, QStringLiteral("zh"));
    MainForm form;
    form.show();

    while (!form.windowHandle() || !form.windowHandle()->isExposed())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QCoreApplication::processEvents(); // the first paint
    const qint64 ready = nowNs();
    if (!form.endpoint().isBound()) {
        std::fprintf(stderr, "endpoint not bound\n");
        return 1;
    }
    std::printf("%lld %ld\n", static_cast<long long>(ready), statusKb("VmHWM"));
    std::fflush(stdout);
    return 0;
}

// Runs `argv` with the offscreen platform; returns its pid and the read end of its stdout.
pid_t spawn(const std::vector<const char*>& argv, int* out)
{
    int fds[2];
    if (pipe(fds) != 0)
        qFatal("pipe: %s", std::strerror(errno));
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    pid_t pid = 0;
    std::vector<char*> args;
    for (const char* a : argv)
        args.push_back(const_cast<char*>(a));
    args.push_back(nullptr);
    if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ) != 0)
        qFatal("cannot start %s", args[0]);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    *out = fds[0];
    return pid;
}

bool portBound(quint16 port)
{
    // /proc/net/udp: "sl local_address rem_address ..." with addresses as HEX_IP:HEX_PORT.
    char needle[16];
    std::snprintf(needle, sizeof needle, ":%04X ", port);
    FILE* f = std::fopen("/proc/net/udp", "r");
    if (!f)
        return false;
    char line[512];
    bool found = false;
    while (!found && std::fgets(line, sizeof line, f)) {
        const char* local = std::strchr(line, ':');
        found = local && std::strstr(local + 1, needle) && std::strstr(local + 1, needle) < line + 40;
    }
    std::fclose(f);
    return found;
}

long peakRssOf(pid_t pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    }
    return -1;
}

} // namespace

int main(int argc, char* argv[])
{
    tarvik::test::requirePrivateNetworkNamespace(argv[0]);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    if (argc > 1 && std::strcmp(argv[1], "--child") == 0)
        return child(argc, argv);

    const int runs = argc > 1 ? std::atoi(argv[1]) : 15;
    std::printf("bench_startup: %d fresh processes each\n", runs);

    std::vector<double> ms;
    std::vector<double> mb;
    for (int i = 0; i < runs + 1; ++i) {
        int out = -1;
        const qint64 t0 = nowNs();
        const pid_t pid = spawn({argv[0], "--child"}, &out);
        char buffer[128] = {};
        const ssize_t n = read(out, buffer, sizeof buffer - 1);
        close(out);
        int status = 0;
        waitpid(pid, &status, 0);
        long long ready = 0;
        long hwm = 0;
        if (n <= 0 || std::sscanf(buffer, "%lld %ld", &ready, &hwm) != 2 || status != 0)
            qFatal("the child failed");
        if (i == 0)
            continue; // the first run warms the file cache
        ms.push_back(static_cast<double>(ready - t0) / 1e6);
        mb.push_back(static_cast<double>(hwm) / 1024.0);
    }
    printRow("start -> window shown, endpoint bound (main()'s set-up)", summarize(ms), "ms");
    printRow("peak RSS by then (main()'s set-up)", summarize(mb), "MB");

    ms.clear();
    mb.clear();
    for (int i = 0; i < runs + 1; ++i) {
        int out = -1;
        const qint64 t0 = nowNs();
        const pid_t pid = spawn({TARVIK_TOOL_PATH}, &out);
        qint64 bound = 0;
        while (!bound) {
            if (portBound(65002))
                bound = nowNs();
            else if (nowNs() - t0 > 10'000'000'000LL)
                qFatal("the tool did not bind its port");
        }
        // The window is shown right after the endpoint is bound; let it get there before reading RSS.
        usleep(200'000);
        const long hwm = peakRssOf(pid);
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        close(out);
        if (i == 0)
            continue;
        ms.push_back(static_cast<double>(bound - t0) / 1e6);
        mb.push_back(static_cast<double>(hwm) / 1024.0);
        // Let the port go before the next run.
        while (portBound(65002))
            usleep(1000);
    }
    printRow("start -> port 65002 bound (the tool, seen from outside)", summarize(ms), "ms");
    printRow("peak RSS 200 ms after the bind (the tool)", summarize(mb), "MB");
    return 0;
}

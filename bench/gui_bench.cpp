// The desktop program's figures against z58emu, in-process with the real main
// window (offscreen unless a display is given):
//   idle CPU with no upload, the longest gap between two repaints of the main
//   window during the sound job's 20 s begin wait on a silent controller, and
//   both uploads' wall time against their ticks plus their exchanges.
//   gui_bench [--load] [--quick]   --load: two busy processes run meanwhile
#include "Device.h"
#include "Embedded.h"
#include "EmulatorProcess.h"
#include "FakeDialogs.h"
#include "PortSettingStore.h"
#include "TempDir.h"
#include "Upload.h"
#include "Z58main.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Two processes that keep the machine's two cores busy.
struct Load {
    std::vector<pid_t> pids;
    explicit Load(bool on) {
        for (int i = 0; on && i < 2; ++i) {
            const pid_t pid = fork();
            if (pid == 0) {
                volatile unsigned long x = 0;
                for (;;)
                    x = x + 1;
            }
            pids.push_back(pid);
        }
    }
    ~Load() {
        for (pid_t p : pids) {
            kill(p, SIGKILL);
            waitpid(p, nullptr, 0);
        }
    }
};

// Records when the window shows the boxes and log lines that mark a job's steps.
struct TimedDialogs : FakeDialogs {
    QElapsedTimer clock;
    std::vector<std::pair<QString, qint64>> seen;
    QString endBox;
    QEventLoop* loop = nullptr;
    Answer message(QWidget* w, const QString& text, const QString& caption, Buttons b) override {
        seen.emplace_back(text, clock.elapsed());
        if (loop && text.startsWith(endBox))
            loop->quit();
        return FakeDialogs::message(w, text, caption, b);
    }
    qint64 when(const QString& start) const {
        for (const auto& [text, ms] : seen)
            if (text.startsWith(start))
                return ms;
        return -1;
    }
};

struct PaintClock : QObject {
    QElapsedTimer clock;
    std::vector<qint64> paints;
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint)
            paints.push_back(clock.elapsed());
        return false;
    }
};

// Exchanges alone: the same upload driven in a loop, no timers.
double exchangesMs(Device& d, const unsigned char* data, size_t size, std::uint32_t crc, std::uint32_t length, bool firmware,
                   size_t& blocks) {
    if ((firmware ? d.BeginFirmwareUpdate() : d.BeginSoundUpdate()) != 1)
        return -1;
    UploadStepper up(data, size, crc, length);
    QElapsedTimer t;
    t.start();
    while (!up.allSent())
        if (up.sendNextBlock(d) != 1)
            return -1;
    if (up.commit(d) != 1)
        return -1;
    blocks = up.blocksSent();
    return static_cast<double>(t.nsecsElapsed()) / 1e6;
}

// Wall time of a job in the window: from the log line written as its timer
// starts to the box that ends it.
double jobMs(TimedDialogs& dialogs, TMainForm& f, QPushButton* button, const QString& startLine, const QString& endBox) {
    qint64 start = -1;
    auto c = QObject::connect(f.Memo1, &QPlainTextEdit::textChanged, [&] {
        if (start < 0 && f.Memo1->toPlainText().contains(startLine))
            start = dialogs.clock.elapsed();
    });
    dialogs.seen.clear();
    dialogs.answers = {Answer::Ok, Answer::Yes, Answer::Cancel}; // go, go on, no restart
    // A plain event loop: QTest::qWait sleeps between its passes and would
    // hold every tick back by up to 10 ms.
    QEventLoop loop;
    dialogs.endBox = endBox;
    dialogs.loop = &loop;
    QTest::mouseClick(button, Qt::LeftButton);
    if (dialogs.when(endBox) < 0)
        loop.exec();
    dialogs.loop = nullptr;
    QObject::disconnect(c);
    return static_cast<double>(dialogs.when(endBox) - start);
}

} // namespace

int main(int argc, char** argv) {
    bool load = false, quick = false;
    for (int i = 1; i < argc; ++i) {
        load = load || std::strcmp(argv[i], "--load") == 0;
        quick = quick || std::strcmp(argv[i], "--quick") == 0;
    }
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    IsolatedSetup setup;
    TimedDialogs dialogs;
    dialogs.clock.start();

    {
        TMainForm f(dialogs);
        f.show();
        (void)QTest::qWaitForWindowExposed(&f);
        const double cpu0 = cpuSeconds();
        const int idleMs = quick ? 2000 : 10000;
        QEventLoop idle;
        QTimer::singleShot(idleMs, &idle, &QEventLoop::quit);
        idle.exec();
        const double cpu = cpuSeconds() - cpu0;
        std::printf("idle main window: %.3f s CPU in %.0f s (%.2f%% of a core)\n", cpu, idleMs / 1000.0,
                    100 * cpu / (idleMs / 1000.0));
    }

    {
        EmulatorProcess silent({"--register", "COM8", "--silent"});
        portSettingStore().write("COM8");
        TMainForm f(dialogs);
        f.show();
        (void)QTest::qWaitForWindowExposed(&f);
        PaintClock paints;
        paints.clock.start();
        f.installEventFilter(&paints);
        QTimer repaint; // asks for a paint every 16 ms, as a window dragged across would
        QObject::connect(&repaint, &QTimer::timeout, &f, [&] { f.update(); });
        repaint.start(16);
        dialogs.answers = {Answer::Ok};
        Load busy(load);
        const qint64 t0 = paints.clock.elapsed();
        QTest::mouseClick(f.WaveUpdateButton, Qt::LeftButton); // 20 s on a silent controller
        QEventLoop wait; // the click returns at once: the wait runs on the exchange thread
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, &wait, [&] {
            if (!f.busy())
                wait.quit();
        });
        poll.start(20);
        wait.exec();
        const qint64 t1 = paints.clock.elapsed();
        qint64 gap = 0, last = t0;
        for (qint64 p : paints.paints)
            if (p >= t0 && p <= t1) {
                gap = std::max(gap, p - last);
                last = p;
            }
        gap = std::max(gap, t1 - last);
        std::printf("sound begin wait on a silent controller%s: %.1f s, %zu paints, longest gap %lld ms\n",
                    load ? " (machine busy)" : "", (t1 - t0) / 1000.0, paints.paints.size(), static_cast<long long>(gap));
    }

    {
        EmulatorProcess emu({"--register", "COM7"});
        portSettingStore().write("COM7");
        Device d("COM7");
        FirmwareImage fw;
        const EmbeddedResource blow = embeddedResource("blow");
        fw.load(blow.data, blow.size);
        SoundBank bank;
        const EmbeddedResource wave = embeddedResource("wave_list");
        bank.load(wave.data, wave.size);
        Load busy(load);
        size_t fwBlocks = 0, sndBlocks = 0;
        const double fwEx = exchangesMs(d, fw.stream.data(), fw.stream.size(), fw.imageCrc, fw.imageSize, true, fwBlocks);
        const double sndEx = exchangesMs(d, bank.stream, bank.size, bank.dataCrc, bank.dataLength, false, sndBlocks);
        TMainForm f(dialogs);
        f.show();
        (void)QTest::qWaitForWindowExposed(&f);
        const double fwJob = jobMs(dialogs, f, f.BlowUpdateButton, "Загрузка новой версии программы", "Новая версия");
        const double sndJob = jobMs(dialogs, f, f.WaveUpdateButton, "Идет запись звуковых данных", "Данные успешно записаны");
        const double fwTicks = static_cast<double>(fwBlocks + 1) * 1, sndTicks = static_cast<double>(sndBlocks + 1) * 10;
        std::printf("firmware job%s: %.0f ms; ticks %zu x 1 ms + exchanges %.0f ms = %.0f ms (%+.1f%%)\n",
                    load ? " (machine busy)" : "", fwJob, fwBlocks + 1, fwEx, fwTicks + fwEx,
                    100 * (fwJob / (fwTicks + fwEx) - 1));
        std::printf("sound job%s: %.0f ms; ticks %zu x 10 ms + exchanges %.0f ms = %.0f ms (%+.1f%%)\n",
                    load ? " (machine busy)" : "", sndJob, sndBlocks + 1, sndEx, sndTicks + sndEx,
                    100 * (sndJob / (sndTicks + sndEx) - 1));
    }
    return 0;
}

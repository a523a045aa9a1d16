#include "support/testsupport.h"

namespace support {

void stopTimers(const QObject &window)
{
    for (const char *name : {"tmr_delay", "tmrDataArrival", "tmr_wits"})
        child<QTimer>(window, name)->stop();
}

void ticks(fm_more_data &w, int count)
{
    for (int i = 0; i < count; ++i)
        w.tmr_delay_Timer();
}

std::unique_ptr<QTimer> fastTicks(fm_more_data &w)
{
    child<QTimer>(w, "tmr_delay")->stop();
    auto driver = std::make_unique<QTimer>();
    driver->setInterval(0);
    QObject::connect(driver.get(), &QTimer::timeout, &w, [&w] { w.tmr_delay_Timer(); });
    driver->start();
    return driver;
}

ViewerOptions windowOptions(const QTemporaryDir &dir, SocketControl *socket, std::function<void()> endProcess)
{
    ViewerOptions options;
    options.programDirectory = dir.path();
    options.socket = socket;
    options.endProcess = std::move(endProcess);
    return options;
}

WindowFixture::WindowFixture(Start start)
{
    if (!dir.isValid())
        qFatal("no temporary folder");
    open(start);
}

void WindowFixture::open(Start start)
{
    window.reset();
    socket = new FakeSocket;
    window = std::make_unique<fm_more_data>(windowOptions(dir, socket));
    if (start == Start::Stopped) {
        stopTimers(*window);
        window->clear_display();
    }
}

void WindowFixture::write(const char *name, const QByteArray &content)
{
    writeFile(dir.filePath(QString::fromLatin1(name)), content);
}

void WindowFixture::feed(const QByteArray &bytes)
{
    socket->queue(bytes);
    window->tmrDataArrival_Timer();
}

} // namespace support

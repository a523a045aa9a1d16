// Linked into every test program: before main() runs, and so before the
// application object reads its environment, the program gets a home, data,
// configuration and cache folder of its own in a temporary folder, removed
// when it ends. Settings, the history of readings and anything else a test
// or the viewer under test keeps (QStandardPaths' test mode included, which
// writes below the home folder) stay apart from the user's and from every
// other test running beside it; child processes (the simulator, rthistory)
// inherit the same folders.

#include <cstdio>
#include <cstdlib>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace support {
namespace {

class PrivateFolders
{
public:
    PrivateFolders()
    {
        if (!m_root.isValid()) {
            std::fprintf(stderr, "no temporary folder for the test's home: %s\n", qPrintable(m_root.errorString()));
            std::exit(1);
        }
        const struct
        {
            const char *variable;
            const char *folder;
        } folders[] = {{"HOME", "home"},
                       {"XDG_CONFIG_HOME", "config"},
                       {"XDG_DATA_HOME", "data"},
                       {"XDG_CACHE_HOME", "cache"},
                       {"XDG_STATE_HOME", "state"}};
        for (const auto &f : folders) {
            const QString path = m_root.filePath(QString::fromLatin1(f.folder));
            if (!QDir().mkpath(path) || !qputenv(f.variable, QFile::encodeName(path))) {
                std::fprintf(stderr, "cannot make the test's folder %s\n", qPrintable(path));
                std::exit(1);
            }
        }
    }

private:
    QTemporaryDir m_root{QDir::tempPath() + QStringLiteral("/rttest-XXXXXX")};
};

const PrivateFolders privateFolders;

} // namespace
} // namespace support

#include "support/TestEnv.h"

#include <QDir>
#include <QFile>

#include <csignal>
#include <cstdio>

#include <sys/wait.h>
#include <unistd.h>

#include <zlib.h>

void TempDirTest::SetUp()
{
    ASSERT_TRUE(temp_.isValid());
    oldAppData_ = qgetenv("APPDATA");
    oldConfig_ = qgetenv("XDG_CONFIG_HOME");
    qputenv("APPDATA", QFile::encodeName(temp_.path()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(temp_.path()));
}

void TempDirTest::TearDown()
{
    for (const auto& [name, old] : {std::pair{"APPDATA", oldAppData_}, std::pair{"XDG_CONFIG_HOME", oldConfig_}}) {
        if (old.isNull())
            qunsetenv(name);
        else
            qputenv(name, old);
    }
}

QString TempDirTest::Path(const QString& name) const { return QDir(temp_.path()).filePath(name); }

QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

void WriteAll(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    ASSERT_EQ(file.write(bytes), bytes.size());
}

FileSizeLimit::FileSizeLimit(std::uint64_t bytes)
{
    if (getrlimit(RLIMIT_FSIZE, &saved_) != 0)
        return;
    // Ignored, the signal lets the write return an error instead of ending the process.
    oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = saved_;
    limited.rlim_cur = bytes;
    active_ = setrlimit(RLIMIT_FSIZE, &limited) == 0;
}

FileSizeLimit::~FileSizeLimit()
{
    if (active_)
        setrlimit(RLIMIT_FSIZE, &saved_);
    if (oldHandler_ != nullptr)
        std::signal(SIGXFSZ, oldHandler_);
}

QString TestDataFolder()
{
    const QString folder = QStringLiteral(ZUVORA_TESTDATA);
    return QDir(folder).exists() ? folder : QString();
}

QStringList FuzzFindings(const QString& target)
{
    const QDir folder(QStringLiteral(ZUVORA_FUZZ_REGRESSIONS "/") + target);
    QStringList files;
    for (const QString& name : folder.entryList(QDir::Files))
        files.append(folder.filePath(name));
    return files;
}

QByteArray PngChunk(const char* type, const QByteArray& data)
{
    QByteArray chunk;
    const auto be32 = [&chunk](quint32 v) {
        for (int shift = 24; shift >= 0; shift -= 8)
            chunk.append(static_cast<char>((v >> shift) & 0xFF));
    };
    be32(static_cast<quint32>(data.size()));
    const QByteArray body = QByteArray(type, 4) + data;
    chunk += body;
    be32(static_cast<quint32>(crc32(0, reinterpret_cast<const Bytef*>(body.constData()), static_cast<uInt>(body.size()))));
    return chunk;
}

QByteArray HeaderOnlyPng(quint32 width, quint32 height)
{
    QByteArray ihdr;
    for (quint32 v : {width, height}) {
        for (int shift = 24; shift >= 0; shift -= 8)
            ihdr.append(static_cast<char>((v >> shift) & 0xFF));
    }
    ihdr += QByteArray("\x08\x02\x00\x00\x00", 5);
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + PngChunk("IHDR", ihdr) +
           PngChunk("IDAT", QByteArray("\x78\x9c\x03\x00\x00\x00\x00\x01", 8)) + PngChunk("IEND", {});
}

std::pair<int, int> AlphaCounts(const QImage& argb)
{
    int clear = 0;
    int partial = 0;
    for (int y = 0; y < argb.height(); ++y) {
        for (int x = 0; x < argb.width(); ++x) {
            const int alpha = qAlpha(argb.pixel(x, y));
            clear += alpha == 0;
            partial += alpha != 0 && alpha != 255;
        }
    }
    return {clear, partial};
}

bool WithinMemory(std::size_t megabytes, const std::function<bool()>& work)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    (void)megabytes;
    return work();
#else
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child < 0)
        return false;
    if (child == 0) {
        long pages = 0;
        if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
            if (std::fscanf(statm, "%ld", &pages) != 1)
                pages = 0;
            std::fclose(statm);
        }
        const rlim_t now = static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE));
        const rlimit limit{now + (rlim_t{megabytes} << 20), now + (rlim_t{megabytes} << 20)};
        bool passed = false;
        try {
            passed = setrlimit(RLIMIT_AS, &limit) == 0 && work();
        } catch (...) {
            passed = false;
        }
        _exit(passed ? 0 : 1);
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child)
        return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
#endif
}

QByteArray RepeatedDcScans(int side, int components, int scans)
{
    const auto hex = [](int value, int digits) { return QByteArray::number(value, 16).rightJustified(digits, '0'); };
    QByteArray frame = "FFC2" + hex(8 + 3 * components, 4) + "08" + hex(side, 4) + hex(side, 4) + hex(components, 2);
    QByteArray scan = "FFDA" + hex(6 + 2 * components, 4) + hex(components, 2);
    for (int c = 1; c <= components; ++c) {
        frame += hex(c, 2) + "1100";
        scan += hex(c, 2) + "00";
    }
    const qsizetype blocks = qsizetype{side / 8} * (side / 8) * components;
    const QByteArray one = QByteArray::fromHex(scan + "000000") + QByteArray((blocks + 7) / 8, '\0');
    return QByteArray::fromHex("FFD8FFDB004300" + QByteArray("01").repeated(64) + frame + "FFC4001400" + "01" +
                               QByteArray("00").repeated(16)) +
           one.repeated(scans) + QByteArray::fromHex("FFD9");
}

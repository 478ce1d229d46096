#include "LibraryRows.h"
#include "app/LibraryFile.h"
#include "app/SingleInstance.h"
#include "common/Error.h"
#include "support/TestEnv.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QtEndian>

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

QByteArray Be32(quint32 value)
{
    char bytes[4];
    qToBigEndian(value, bytes);
    return QByteArray(bytes, 4);
}
QByteArray Record(const QByteArray& utf8) { return Be32(static_cast<quint32>(utf8.size())) + utf8; }
const QByteArray kEnd = Be32(0);

// The tag and a time to answer by: by default one that never comes.
QByteArray Head(qint64 answerBy = std::numeric_limits<qint64>::max())
{
    char bytes[8];
    qToBigEndian(answerBy, bytes);
    return QByteArray("ZVO1") + QByteArray(bytes, 8);
}
const QByteArray kHead = Head();

// A socket file with nobody listening, as a crashed program leaves it; or, with `listening`,
// a listener that never accepts (its descriptor returned for the caller to close).
int RawSocket(const QString& path, bool listening)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray encoded = QFile::encodeName(path);
    std::memcpy(address.sun_path, encoded.constData(), static_cast<size_t>(encoded.size()));
    EXPECT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    if (listening && ::listen(fd, 4) == 0)
        return fd;
    ::close(fd);
    return -1;
}

// A blocking hand-off on a thread of its own while this thread's event loop serves.
THandOff ServedHandOff(const QString& socket, const QStringList& paths)
{
    THandOff result = THandOff::NoServer;
    std::unique_ptr<QThread> thread(QThread::create([&] { result = HandOff(socket, paths, 3000); }));
    thread->start();
    EXPECT_TRUE(QTest::qWaitFor([&] { return thread->isFinished(); }, 10000));
    thread->wait();
    return result;
}

}  // namespace

class SingleInstanceTest : public TempDirTest {
protected:
    void SetUp() override
    {
        TempDirTest::SetUp();
        ASSERT_TRUE(QDir().mkpath(Runtime()));
        ASSERT_TRUE(QFile::setPermissions(Runtime(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    }
    QString Runtime() const { return Path(QStringLiteral("run")); }
    QString Socket() const { return InstanceSocketPath(Runtime(), Path(QStringLiteral("Zuvora.Dat"))); }
    void StartServing(TInstanceServer& server)
    {
        QString note;
        ASSERT_EQ(server.Start(Socket(), {}, 1000, &note), TInstanceServer::TRole::Serving) << note.toStdString();
    }
};

TEST_F(SingleInstanceTest, NameFollowsTheLibraryFile)
{
    ASSERT_TRUE(QDir().mkpath(Path(QStringLiteral("sub"))));
    ASSERT_TRUE(QFile::link(temp_.path(), Path(QStringLiteral("link"))));
    const auto name = [this](const QString& relative) { return InstanceSocketPath(Runtime(), Path(relative)); };
    // Every spelling of one file, existing or not yet, gives one name; other files other names.
    for (const char* same : {"sub/../Zuvora.Dat", "link/Zuvora.Dat", "./Zuvora.Dat"})
        EXPECT_EQ(name(QString::fromLatin1(same)), Socket()) << same;
    for (const char* other : {"sub/Zuvora.Dat", "Zuvora.dat", "new/deeper/Zuvora.Dat"})
        EXPECT_NE(name(QString::fromLatin1(other)), Socket()) << other;
    const QString beforeFolder = name(QStringLiteral("new/deeper/Zuvora.Dat"));
    ASSERT_TRUE(QDir().mkpath(Path(QStringLiteral("new/deeper"))));
    EXPECT_EQ(name(QStringLiteral("link/new/deeper/Zuvora.Dat")), beforeFolder);
    // Another runtime folder is another user's.
    EXPECT_NE(InstanceSocketPath(Path(QStringLiteral("other")), Path(QStringLiteral("Zuvora.Dat"))), Socket());

    QString deep;
    for (int i = 0; i < 15; ++i)
        deep += QString(200, u'd') + u'/';
    EXPECT_EQ(name(deep + QStringLiteral("Zuvora.Dat")).size(), Socket().size());
}

TEST_F(SingleInstanceTest, RuntimeFolderIsPrivateAndShortEnough)
{
    const QByteArray oldRuntime = qgetenv("XDG_RUNTIME_DIR");
    const QByteArray oldTmp = qgetenv("TMPDIR");
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(Runtime()));
    EXPECT_EQ(InstanceRuntimeFolder(), Runtime());

    // Unset, or too long for a socket path: a folder of the user's own, closed to others.
    const QString own = Path(QStringLiteral("tmp/zuvora-%1").arg(::getuid()));
    ASSERT_TRUE(QDir().mkpath(own));
    ASSERT_TRUE(QFile::setPermissions(own, QFile::Permissions(0x7777)));
    qputenv("TMPDIR", QFile::encodeName(Path(QStringLiteral("tmp"))));
    const QString tooLong = QDir(Runtime()).filePath(QString(80, u'r'));
    ASSERT_TRUE(QDir().mkpath(tooLong));
    for (const QString& runtime : {QString(), tooLong}) {
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
        QString failure;
        EXPECT_EQ(InstanceRuntimeFolder(&failure), own) << failure.toStdString();
        struct stat status {};
        ASSERT_EQ(::lstat(QFile::encodeName(own).constData(), &status), 0);
        EXPECT_EQ(status.st_mode & 0777, 0700u);
        EXPECT_LE(QFile::encodeName(InstanceSocketPath(own, Path(QStringLiteral("Zuvora.Dat")))).size(),
                  kMaxSocketPathBytes);
    }
    for (const auto& [name, old] : {std::pair{"XDG_RUNTIME_DIR", oldRuntime}, std::pair{"TMPDIR", oldTmp}}) {
        if (old.isNull())
            qunsetenv(name);
        else
            qputenv(name, old);
    }
}

TEST_F(SingleInstanceTest, ReaderTakesOnlyWellFormedMessagesWithinTheLimits)
{
    using S = THandOffReader::TState;
    const QByteArray twoPaths = kHead + Record("/a/pet.zvk") + Record("/b/c d.zvp") + kEnd;
    const QByteArray longest = "/" + QByteArray(kMaxHandOffBytes - kHead.size() - 9, 'a');
    QStringList most(kMaxHandOffPaths, QStringLiteral("/a"));
    const QByteArray mostPaths = EncodeHandOff(most, 7);
    const struct {
        const char* name;
        QByteArray bytes;
        S state;
        QStringList paths;
    } cases[] = {
        {"two paths", twoPaths, S::Complete, {"/a/pet.zvk", "/b/c d.zvp"}},
        {"no paths", kHead + kEnd, S::Complete, {}},
        {"exactly 1 MiB", kHead + Record(longest) + kEnd, S::Complete, {QString::fromLatin1(longest)}},
        {"cut in the time", kHead.left(7), S::Reading, {}},
        {"cut in a path", kHead + Record("/a/pet.zvk").chopped(2), S::Reading, {}},
        {"other protocol", "GET / HTTP/1.1\r\n", S::Refused, {}},
        {"relative path", kHead + Record("pet.zvk") + kEnd, S::Refused, {}},
        {"zero byte", kHead + Record(QByteArray("/a\0b", 4)) + kEnd, S::Refused, {}},
        {"not UTF-8", kHead + Record("/a/\xff\xfe.zvk") + kEnd, S::Refused, {}},
        {"cut UTF-8", kHead + Record("/a/\xc3") + kEnd, S::Refused, {}},
        {"bytes after the end", twoPaths + "x", S::Refused, {}},
        // Refused from its length alone, without waiting for the bytes.
        {"huge length", kHead + Be32(0xFFFFFFF0u) + "/a", S::Refused, {}},
        {"one byte over 1 MiB", kHead + Record(longest + "a") + kEnd, S::Refused, {}},
        {"one path too many", mostPaths.chopped(4) + Record("/a") + kEnd, S::Refused, {}},
    };
    for (const auto& c : cases) {
        // Whole or byte by byte, the verdict is the same.
        THandOffReader whole;
        THandOffReader split;
        whole.Feed(c.bytes);
        for (char byte : c.bytes)
            split.Feed(QByteArrayView(&byte, 1));
        for (const THandOffReader* reader : {&whole, &split}) {
            EXPECT_EQ(reader->State(), c.state) << c.name;
            EXPECT_EQ(reader->Failure().isEmpty(), c.state != S::Refused) << c.name;
            if (c.state == S::Complete) {
                EXPECT_EQ(reader->Paths(), c.paths) << c.name;
            }
        }
    }

    const QStringList names = {QStringLiteral("/home/ä ö/Pet 1.zvk"), QStringLiteral("/x/\u732b.zvp")};
    for (const QStringList& paths : {names, most}) {
        THandOffReader reader;
        EXPECT_EQ(reader.Feed(EncodeHandOff(paths, 7)), S::Complete);
        EXPECT_EQ(reader.Paths(), paths);
        EXPECT_EQ(reader.AnswerBy(), 7);
        EXPECT_EQ(reader.Feed("/"), S::Refused);
    }
    most.append(QStringLiteral("/a"));
    for (const QStringList& refused : {most, QStringList{QString(kMaxHandOffBytes, u'/')}, QStringList{QString()}})
        EXPECT_THROW(EncodeHandOff(refused, 7), TError);
}

TEST_F(SingleInstanceTest, StaleSocketIsTakenOverAndSilentOneIsLeftAlone)
{
    RawSocket(Socket(), false);
    ASSERT_TRUE(QFileInfo::exists(Socket()));
    EXPECT_EQ(HandOff(Socket(), {}, 1000), THandOff::NoServer);
    {
        TInstanceServer server;
        StartServing(server);
        QSignalSpy received(&server, &TInstanceServer::Received);
        const QStringList files = {QStringLiteral("/p/Pip.zvk"), QStringLiteral("/p/\u00e9t\u00e9.zvp")};
        EXPECT_EQ(ServedHandOff(Socket(), files), THandOff::Delivered);
        EXPECT_EQ(ServedHandOff(Socket(), {}), THandOff::Delivered);
        ASSERT_TRUE(QTest::qWaitFor([&] { return received.size() == 2; }, 2000));
        EXPECT_EQ(received[0][0].toStringList(), files);
        EXPECT_EQ(received[1][0].toStringList(), QStringList());
        // Closed, the name is free again.
        server.Close();
        EXPECT_EQ(HandOff(Socket(), files, 1000), THandOff::NoServer);
    }
    // A listener that takes nothing: the start gives up in time, runs alone and leaves the
    // socket to its owner.
    const int silent = RawSocket(Socket(), true);
    TInstanceServer second;
    QElapsedTimer clock;
    clock.start();
    QString note;
    EXPECT_EQ(second.Start(Socket(), {QStringLiteral("/a.zvk")}, 300, &note), TInstanceServer::TRole::Alone);
    EXPECT_LT(clock.elapsed(), 3000);
    EXPECT_TRUE(note.contains(QStringLiteral("does not answer"))) << note.toStdString();
    EXPECT_FALSE(second.IsListening());
    EXPECT_TRUE(QFileInfo::exists(Socket()));
    ::close(silent);
}

TEST_F(SingleInstanceTest, HostileClientsAreDroppedAndServingGoesOn)
{
    TInstanceServer server;
    server.SetConnectionTimeout(400);
    StartServing(server);
    QSignalSpy received(&server, &TInstanceServer::Received);
    const auto client = [this](const QByteArray& bytes) {
        auto socket = std::make_unique<QLocalSocket>();
        socket->connectToServer(Socket());
        EXPECT_TRUE(socket->waitForConnected(1000));
        socket->write(bytes);
        socket->flush();
        return socket;
    };
    const auto dropped = [](const QLocalSocket& socket, int ms) {
        return QTest::qWaitFor([&] { return socket.state() == QLocalSocket::UnconnectedState; }, ms);
    };
    // Too long, another protocol, a bad path, too late: dropped at once; silent: in time.
    for (const QByteArray& bytes :
         {kHead + Be32(0x7FFFFFFFu) + QByteArray(100000, '/'), QByteArray("GET / HTTP/1.1\r\n\r\n"),
          kHead + Record("rel") + kEnd, Head(QDeadlineTimer::current().deadline() - 1) + Record("/late.zvk") + kEnd}) {
        EXPECT_TRUE(dropped(*client(bytes), 300)) << bytes.left(16).toStdString();
    }
    EXPECT_TRUE(dropped(*client({}), 3000));

    // Many at once: no more than the limit stay connected.
    std::vector<std::unique_ptr<QLocalSocket>> crowd;
    for (int i = 0; i < TInstanceServer::kMaxConnections + 6; ++i)
        crowd.push_back(client(kHead));
    QTest::qWait(150);
    const auto open = std::count_if(crowd.begin(), crowd.end(), [](const auto& socket) {
        return socket->state() == QLocalSocket::ConnectedState;
    });
    EXPECT_LE(open, TInstanceServer::kMaxConnections);
    EXPECT_GT(open, 0);
    crowd.clear();
    QTest::qWait(100);

    // A client gone before the answer does not take the server down with it.
    client(kHead + Record("/gone.zvk") + kEnd).reset();
    EXPECT_EQ(ServedHandOff(Socket(), {QStringLiteral("/fine.zvk")}), THandOff::Delivered);
    ASSERT_TRUE(QTest::qWaitFor([&] { return received.size() == 2; }, 2000));
    EXPECT_EQ(received[0][0].toStringList(), QStringList{QStringLiteral("/gone.zvk")});
    EXPECT_EQ(received[1][0].toStringList(), QStringList{QStringLiteral("/fine.zvk")});
}

// Two real programs: a second one saving over the first one's list was the fault.
TEST_F(SingleInstanceTest, SecondProgramHandsOverAndTheFirstSavesOnTerm)
{
    const QString program = Path(QStringLiteral("prog/zuvora"));
    const QString pet = Path(QStringLiteral("pets/Pip.zvk"));
    for (const auto& [from, to] : {std::pair{QStringLiteral(ZUVORA_PROGRAM), program},
                                   std::pair{QStringLiteral(ZUVORA_SAMPLE_PET), pet}}) {
        ASSERT_TRUE(QDir().mkpath(QFileInfo(to).path()));
        // Beside its own library file; a hard link saves copying a sanitized program.
        if (::link(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) != 0) {
            ASSERT_TRUE(QFile::copy(from, to)) << from.toStdString();
        }
    }
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), Runtime());
    environment.insert(QStringLiteral("APPDATA"), Path(QStringLiteral("appdata")));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), Path(QStringLiteral("config")));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    std::vector<std::unique_ptr<QProcess>> runs;  // each stopped by its own id if left running
    const auto start = [&](const QStringList& arguments) {
        runs.push_back(std::make_unique<QProcess>());
        runs.back()->setProcessEnvironment(environment);
        runs.back()->setWorkingDirectory(temp_.path());
        runs.back()->start(program, arguments);
        EXPECT_TRUE(runs.back()->waitForStarted(5000));
        return runs.back().get();
    };
    const auto endedWell = [](QProcess* run) {
        EXPECT_EQ(run->exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(run->exitCode(), 0) << run->readAllStandardError().toStdString();
    };

    // Started together, one hands over to the other and ends.
    QProcess* a = start({});
    QProcess* b = start({});
    const auto running = [](QProcess* run) { return run->state() != QProcess::NotRunning; };
    ASSERT_TRUE(QTest::qWaitFor([&] { return !running(a) || !running(b); }, 30000));
    QTest::qWait(200);
    ASSERT_NE(running(a), running(b));
    QProcess* first = running(a) ? a : b;
    endedWell(first == a ? b : a);
    const QString library = QFileInfo(program).dir().filePath(kLibraryFileName);
    const QString socket = InstanceSocketPath(Runtime(), library);
    EXPECT_TRUE(QFileInfo::exists(socket));

    // A package given by a relative path joins the running one's library.
    QProcess* second = start({QStringLiteral("pets/Pip.zvk")});
    ASSERT_TRUE(second->waitForFinished(20000));
    endedWell(second);

    first->terminate();
    ASSERT_TRUE(first->waitForFinished(20000));
    endedWell(first);
    const QList<TLibraryRow> rows = LibraryRows(library);
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(QFileInfo(rows[0].Path).canonicalFilePath(), QFileInfo(pet).canonicalFilePath());
    EXPECT_FALSE(QFileInfo::exists(socket));
}

// A first run given the sample pet itself lists it once.
TEST_F(SingleInstanceTest, AFirstRunGivenTheSamplePetListsItOnce)
{
    const QString program = Path(QStringLiteral("prog/zuvora"));
    const QString pet = Path(QStringLiteral("prog/Pip.zvk"));
    ASSERT_TRUE(QDir().mkpath(Path(QStringLiteral("prog"))));
    for (const auto& [from, to] : {std::pair{QStringLiteral(ZUVORA_PROGRAM), program},
                                   std::pair{QStringLiteral(ZUVORA_SAMPLE_PET), pet}}) {
        if (::link(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) != 0) {
            ASSERT_TRUE(QFile::copy(from, to)) << from.toStdString();
        }
    }
    QProcess run;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), Runtime());
    environment.insert(QStringLiteral("APPDATA"), Path(QStringLiteral("appdata")));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), Path(QStringLiteral("config")));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    run.setProcessEnvironment(environment);
    run.start(program, {pet});
    ASSERT_TRUE(run.waitForStarted(5000));
    const QString library = Path(QStringLiteral("prog/Zuvora.Dat"));
    QTest::qWait(1500);  // up and playing
    run.terminate();
    ASSERT_TRUE(run.waitForFinished(20000));
    EXPECT_EQ(run.exitCode(), 0) << run.readAllStandardError().toStdString();
    EXPECT_EQ(LibraryRows(library).size(), 1);
}

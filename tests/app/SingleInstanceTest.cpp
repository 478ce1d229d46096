#include "LibraryRows.h"
#include "app/LibraryFile.h"
#include "app/SingleInstance.h"
#include "common/Error.h"
#include "support/TestEnv.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QtEndian>

#include <algorithm>
#include <csignal>
#include <functional>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
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
    QString Library() const { return Path(QStringLiteral("Zuvora.Dat")); }
    QString Socket() const { return InstanceSocketPath(Runtime(), Library()); }
    TInstanceServer::TRole Start(TInstanceServer& server, const QStringList& files, QString* note,
                                 const std::function<void(const QString&)>& waiting = {})
    {
        return server.Start(Library(), Socket(), files, THandOffPatience{600, 200, 300}, waiting, note);
    }
    void StartServing(TInstanceServer& server)
    {
        QString note;
        ASSERT_EQ(Start(server, {}, &note), TInstanceServer::TRole::Serving) << note.toStdString();
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
    // The session's folder open to others, closed to its user, or someone else's: not used.
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(Runtime()));
    for (const int permissions : {0x7777, 0x5000}) {
        ASSERT_TRUE(QFile::setPermissions(Runtime(), QFile::Permissions(permissions)));
        EXPECT_EQ(InstanceRuntimeFolder(), own) << permissions;
    }
    ASSERT_TRUE(QFile::setPermissions(Runtime(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    if (::geteuid() == 0) {
        // A folder another user made first under the name this user's would have.
        constexpr uid_t kStranger = 65534;
        ASSERT_EQ(::chown(QFile::encodeName(Runtime()).constData(), kStranger, kStranger), 0);
        ASSERT_EQ(::chown(QFile::encodeName(own).constData(), kStranger, kStranger), 0);
        const QByteArray oldCache = qgetenv("XDG_CACHE_HOME");
        qputenv("XDG_CACHE_HOME", QFile::encodeName(Path(QStringLiteral("cache"))));
        const QString folder = InstanceRuntimeFolder();
        EXPECT_NE(folder, own);
        struct stat status {};
        ASSERT_EQ(::lstat(QFile::encodeName(folder).constData(), &status), 0) << folder.toStdString();
        EXPECT_EQ(status.st_uid, 0u);
        EXPECT_EQ(status.st_mode & 0777, 0700u);
        ASSERT_EQ(::chown(QFile::encodeName(Runtime()).constData(), 0, 0), 0);
        if (oldCache.isNull())
            qunsetenv("XDG_CACHE_HOME");
        else
            qputenv("XDG_CACHE_HOME", oldCache);
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
}

TEST_F(SingleInstanceTest, TheLockDecidesWhoOwnsTheLibrary)
{
    // Another process's lock (another open file is another owner) and a listener that takes
    // nothing: the start waits, says so once, then ends without running a second library.
    auto owner = std::make_unique<TLibraryLock>(Library());
    ASSERT_EQ(owner->TryTake(), TLibraryLock::TState::Owner);
    EXPECT_EQ(TLibraryLock(Library()).TryTake(), TLibraryLock::TState::Taken);
    const int silent = RawSocket(Socket(), true);
    TInstanceServer second;
    QStringList said;
    QElapsedTimer clock;
    clock.start();
    QString note;
    EXPECT_EQ(Start(second, {QStringLiteral("/a.zvk")}, &note, [&](const QString& line) { said.append(line); }),
              TInstanceServer::TRole::NotAnswering);
    EXPECT_LT(clock.elapsed(), 3000);
    EXPECT_EQ(said.size(), 1);
    EXPECT_TRUE(note.contains(QStringLiteral("running for this library"))) << note.toStdString();
    EXPECT_TRUE(note.contains(QStringLiteral("does not answer"))) << note.toStdString();
    EXPECT_FALSE(second.IsListening());
    EXPECT_TRUE(QFileInfo::exists(Socket()));
    ::close(silent);

    // Once the owner has gone, its socket is stale and the next start owns the library.
    owner.reset();
    TInstanceServer third;
    StartServing(third);
    EXPECT_TRUE(third.IsListening());
    EXPECT_EQ(TLibraryLock(Library()).TryTake(), TLibraryLock::TState::Taken);
    struct stat status {};
    ASSERT_EQ(::stat(QFile::encodeName(Library() + QStringLiteral(".lock")).constData(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
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

    // Idle clients, however many, cannot shut a real start out.
    std::vector<std::unique_ptr<QLocalSocket>> crowd;
    for (int i = 0; i < 20; ++i)
        crowd.push_back(client(kHead));
    QTest::qWait(50);
    EXPECT_EQ(ServedHandOff(Socket(), {QStringLiteral("/crowded.zvk")}), THandOff::Delivered);
    ASSERT_TRUE(QTest::qWaitFor([&] { return received.size() == 1; }, 2000));
    crowd.clear();
    QTest::qWait(100);

    // A client gone before the answer does not take the server down with it.
    client(kHead + Record("/gone.zvk") + kEnd).reset();
    EXPECT_EQ(ServedHandOff(Socket(), {QStringLiteral("/fine.zvk")}), THandOff::Delivered);
    ASSERT_TRUE(QTest::qWaitFor([&] { return received.size() == 3; }, 2000));
    EXPECT_EQ(received[1][0].toStringList(), QStringList{QStringLiteral("/gone.zvk")});
    EXPECT_EQ(received[2][0].toStringList(), QStringList{QStringLiteral("/fine.zvk")});
}

// Another local user neither takes a user's files nor gives it any.
TEST_F(SingleInstanceTest, AnotherUsersEndIsRefusedOnBothSides)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "acting as another user needs root";
    // What the other user's process does, as that user; its exit code is the test's answer.
    const auto asStranger = [](const std::function<int()>& work) {
        const pid_t child = ::fork();
        if (child == 0)
            ::_exit(::setgid(65534) == 0 && ::setuid(65534) == 0 ? work() : 99);
        int status = 0;
        EXPECT_TRUE(QTest::qWaitFor([&] { return ::waitpid(child, &status, WNOHANG) == child; }, 10000));
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    // A listener of another user's, answering "ok" to whatever comes: handed nothing.
    const QString shared = Path(QStringLiteral("shared"));
    ASSERT_TRUE(QDir().mkpath(shared));
    ASSERT_TRUE(QFile::setPermissions(shared, QFile::Permissions(0x7777)));
    ASSERT_EQ(::chmod(QFile::encodeName(temp_.path()).constData(), 0755), 0);
    const QString thief = QDir(shared).filePath(QStringLiteral("zuvora-thief"));
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t listener = ::fork();
    if (listener == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(99);
        const int fd = RawSocket(thief, true);
        (void)!::write(ready[1], "r", 1);
        char bytes[4096];
        for (int served = 0; served < 2; ++served) {
            const int peer = ::accept(fd, nullptr, nullptr);
            (void)!::read(peer, bytes, sizeof bytes);
            (void)!::write(peer, "ok", 2);
            ::close(peer);
        }
        ::_exit(0);
    }
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    EXPECT_EQ(HandOff(thief, {QStringLiteral("/home/me/secret.zvk")}, 1000), THandOff::NoAnswer);
    ::kill(listener, SIGKILL);
    ::waitpid(listener, nullptr, 0);

    // A client of another user's at this user's socket: dropped unheard.
    TInstanceServer server;
    StartServing(server);
    QSignalSpy received(&server, &TInstanceServer::Received);
    ASSERT_TRUE(QFile::setPermissions(Runtime(), QFile::Permissions(0x7777)));
    ASSERT_EQ(::chmod(QFile::encodeName(Socket()).constData(), 0777), 0);
    const QByteArray message = EncodeHandOff({QStringLiteral("/tmp/evil.zvk")}, std::numeric_limits<qint64>::max());
    const QByteArray socketPath = QFile::encodeName(Socket());
    const int answer = asStranger([&] {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, socketPath.constData(), static_cast<size_t>(socketPath.size()));
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
            return 2;
        (void)!::write(fd, message.constData(), static_cast<size_t>(message.size()));
        char reply[2] = {};
        return ::read(fd, reply, 2) == 2 ? 1 : 0;
    });
    EXPECT_EQ(answer, 0);
    QTest::qWait(100);
    EXPECT_EQ(received.size(), 0);
}

// A hand-off handled with a box open (an event loop of its own) does not start the next
// one inside it: they come one after another, in order.
TEST_F(SingleInstanceTest, HandOffsAreHandledOneAtATime)
{
    TInstanceServer server;
    StartServing(server);
    int depth = 0;
    int deepest = 0;
    QStringList order;
    QObject::connect(&server, &TInstanceServer::Received, &server, [&](const QStringList& paths) {
        deepest = std::max(deepest, ++depth);
        order += paths;
        QEventLoop box;
        QTimer::singleShot(150, &box, &QEventLoop::quit);
        box.exec();
        --depth;
    });
    for (const char* name : {"/1.zvk", "/2.zvk", "/3.zvk"})
        EXPECT_EQ(ServedHandOff(Socket(), {QString::fromLatin1(name)}), THandOff::Delivered);
    ASSERT_TRUE(QTest::qWaitFor([&] { return order.size() == 3 && depth == 0; }, 5000));
    EXPECT_EQ(order, (QStringList{"/1.zvk", "/2.zvk", "/3.zvk"}));
    EXPECT_EQ(deepest, 1);
}

// The real program, run from a folder of its own beside its library file.
class ProgramTest : public SingleInstanceTest {
protected:
    void SetUp() override
    {
        SingleInstanceTest::SetUp();
        environment_ = QProcessEnvironment::systemEnvironment();
        environment_.insert(QStringLiteral("XDG_RUNTIME_DIR"), Runtime());
        environment_.insert(QStringLiteral("APPDATA"), Path(QStringLiteral("appdata")));
        environment_.insert(QStringLiteral("XDG_CONFIG_HOME"), Path(QStringLiteral("config")));
        environment_.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    }
    // Places the program (and, when given, the sample pet) at `program`/`pet`.
    void Install(const QString& pet)
    {
        for (const auto& [from, to] : {std::pair{QStringLiteral(ZUVORA_PROGRAM), Program()},
                                       std::pair{QStringLiteral(ZUVORA_SAMPLE_PET), pet}}) {
            if (to.isEmpty())
                continue;
            ASSERT_TRUE(QDir().mkpath(QFileInfo(to).path()));
            // A hard link saves copying a sanitized program.
            if (::link(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) != 0) {
                ASSERT_TRUE(QFile::copy(from, to)) << from.toStdString();
            }
        }
    }
    QString Program() const { return Path(QStringLiteral("prog/zuvora")); }
    QString ProgramLibrary() const { return Path(QStringLiteral("prog/Zuvora.Dat")); }
    // Each run is stopped by its own id if a test leaves it running. `inChild` runs in the
    // child just before the program starts.
    QProcess* Launch(const QStringList& arguments, const std::function<void()>& inChild = {})
    {
        runs_.push_back(std::make_unique<QProcess>());
        QProcess* run = runs_.back().get();
        run->setProcessEnvironment(environment_);
        if (inChild)
            run->setChildProcessModifier(inChild);
        run->setWorkingDirectory(temp_.path());
        run->start(Program(), arguments);
        EXPECT_TRUE(run->waitForStarted(5000));
        return run;
    }
    static bool Running(QProcess* run) { return run->state() != QProcess::NotRunning; }
    static void EndedWell(QProcess* run)
    {
        EXPECT_EQ(run->exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(run->exitCode(), 0) << run->readAllStandardError().toStdString();
    }

    // Waits until `run` has come to its event loop: a later start without files is handed
    // to it there.
    void AwaitServing(QProcess* run)
    {
        const QString socket = InstanceSocketPath(Runtime(), ProgramLibrary());
        ASSERT_TRUE(QTest::qWaitFor([&] { return QFileInfo::exists(socket) || !Running(run); }, 20000));
        ASSERT_TRUE(Running(run)) << run->readAllStandardError().toStdString();
        QProcess* later = Launch({});
        ASSERT_TRUE(QTest::qWaitFor([&] { return !Running(later); }, 20000));
        EndedWell(later);
    }
    // Sends `signal` and expects a first run to end well within 2 s, the sample pet saved in
    // its library.
    void EndsSaving(QProcess* run, int signal)
    {
        QElapsedTimer clock;
        clock.start();
        ::kill(static_cast<pid_t>(run->processId()), signal);
        ASSERT_TRUE(run->waitForFinished(10000));
        EXPECT_LT(clock.elapsed(), 2000);
        EndedWell(run);
        const QList<TLibraryRow> rows = LibraryRows(ProgramLibrary());
        ASSERT_EQ(rows.size(), 1);
        EXPECT_EQ(QFileInfo(rows[0].Path).fileName(), QStringLiteral("Pip.zvk"));
    }

    QProcessEnvironment environment_;
    std::vector<std::unique_ptr<QProcess>> runs_;
};

// Two real programs: a second one saving over the first one's list was the fault.
TEST_F(ProgramTest, SecondProgramHandsOverAndTheFirstSavesOnTerm)
{
    const QString pet = Path(QStringLiteral("pets/Pip.zvk"));
    Install(pet);
    // Started together, one hands over to the other and ends.
    QProcess* a = Launch({});
    QProcess* b = Launch({});
    ASSERT_TRUE(QTest::qWaitFor([&] { return !Running(a) || !Running(b); }, 30000));
    QTest::qWait(200);
    ASSERT_NE(Running(a), Running(b));
    QProcess* first = Running(a) ? a : b;
    EndedWell(first == a ? b : a);
    const QString socket = InstanceSocketPath(Runtime(), ProgramLibrary());
    EXPECT_TRUE(QFileInfo::exists(socket));

    // A package given by a relative path joins the running one's library.
    QProcess* second = Launch({QStringLiteral("pets/Pip.zvk")});
    ASSERT_TRUE(second->waitForFinished(20000));
    EndedWell(second);

    first->terminate();
    ASSERT_TRUE(first->waitForFinished(20000));
    EndedWell(first);
    const QList<TLibraryRow> rows = LibraryRows(ProgramLibrary());
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(QFileInfo(rows[0].Path).canonicalFilePath(), QFileInfo(pet).canonicalFilePath());
    EXPECT_FALSE(QFileInfo::exists(socket));
}

// An owner that does not answer (stopped here) keeps its library: a later start waits, says
// so, and ends with failure instead of running a second library window.
TEST_F(ProgramTest, AStartThatCannotReachTheOwnerEndsWithoutASecondLibrary)
{
    Install(Path(QStringLiteral("pets/Pip.zvk")));
    QProcess* owner = Launch({});
    const QString socket = InstanceSocketPath(Runtime(), ProgramLibrary());
    ASSERT_TRUE(QTest::qWaitFor([&] { return QFileInfo::exists(socket); }, 20000));
    ::kill(static_cast<pid_t>(owner->processId()), SIGSTOP);
    QProcess* late = Launch({QStringLiteral("pets/Pip.zvk")});
    const bool ended = late->waitForFinished(30000);
    ::kill(static_cast<pid_t>(owner->processId()), SIGCONT);
    ASSERT_TRUE(ended);
    const QString said = QString::fromLocal8Bit(late->readAllStandardError());
    EXPECT_EQ(late->exitCode(), 1) << said.toStdString();
    EXPECT_TRUE(said.contains(QStringLiteral("waiting for the Zuvora running for this library"))) << said.toStdString();
    EXPECT_TRUE(said.contains(QStringLiteral("but does not answer; nothing was handed over"))) << said.toStdString();
    owner->terminate();
    ASSERT_TRUE(owner->waitForFinished(20000));
    EndedWell(owner);
}

// SIGTERM with a box open (here: a file that does not exist) ends Zuvora in time, the
// library saved.
TEST_F(ProgramTest, TermEndsZuvoraWithABoxOpen)
{
    Install(Path(QStringLiteral("prog/Pip.zvk")));
    QProcess* run = Launch({QStringLiteral("missing.zvk")});
    QTest::qWait(1500);  // up, its box open
    ASSERT_TRUE(Running(run));
    QElapsedTimer clock;
    clock.start();
    run->terminate();
    ASSERT_TRUE(run->waitForFinished(10000));
    EXPECT_LT(clock.elapsed(), 2500);
    EndedWell(run);
    EXPECT_EQ(LibraryRows(ProgramLibrary()).size(), 1);
}

// A first run given the sample pet itself lists it once.
TEST_F(ProgramTest, AFirstRunGivenTheSamplePetListsItOnce)
{
    const QString pet = Path(QStringLiteral("prog/Pip.zvk"));
    Install(pet);
    QProcess* run = Launch({pet});
    QTest::qWait(1500);  // up and playing
    run->terminate();
    ASSERT_TRUE(run->waitForFinished(20000));
    EndedWell(run);
    EXPECT_EQ(LibraryRows(ProgramLibrary()).size(), 1);
}

// Closing the terminal Zuvora was started from (HUP), Ctrl+C there (INT) and a session's end
// (TERM) each end it as a closed library window does, the library saved. Started in the
// background by a shell without job control, INT comes ignored and stays so; HUP ends it
// even so.
TEST_F(ProgramTest, EndingSignalsSaveTheLibrary)
{
    Install(Path(QStringLiteral("prog/Pip.zvk")));
    const auto asBackgroundJob = [] { ::signal(SIGINT, SIG_IGN); };
    const struct {
        const char* name;
        int signal;
        bool background;
    } cases[] = {
        {"HUP", SIGHUP, false},
        {"INT", SIGINT, false},
        {"TERM", SIGTERM, false},
        {"INT in the background", SIGINT, true},
        {"HUP in the background", SIGHUP, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(ProgramLibrary());
        QProcess* run = Launch({}, c.background ? std::function<void()>(asBackgroundJob) : nullptr);
        AwaitServing(run);
        if (c.background && c.signal == SIGINT) {
            ::kill(static_cast<pid_t>(run->processId()), SIGINT);
            QTest::qWait(1000);
            ASSERT_TRUE(Running(run));
            EndsSaving(run, SIGTERM);
        } else {
            EndsSaving(run, c.signal);
        }
    }
}

// A Wayland display that takes the connection and never answers, or answers with what is
// not Wayland, holds neither the start nor the library's lock: Zuvora says so in a line and
// runs as it would without the layer shell; what is not Wayland is seen at once.
TEST_F(ProgramTest, AWaylandDisplayThatDoesNotAnswerIsLeftBehind)
{
    Install(Path(QStringLiteral("prog/Pip.zvk")));
    const QByteArray http = "HTTP/1.1 400 Bad Request\r\n\r\n";
    // An event of the display object (1) with a number it has none of.
    const QByteArray noSuchEvent = QByteArray::fromHex("010000007f000800") + http;
    const char* notWayland = "did not answer as a Wayland compositor does (its connection broke, or what came was "
                             "not Wayland)";
    const struct {
        const char* name;
        QByteArray reply;
        bool hangUp;
        const char* said;
    } cases[] = {
        {"silent", {}, false, "did not answer within 2 s"},
        {"no such event", noSuchEvent, false, notWayland},
        {"another protocol, then gone", http, true, notWayland},
    };
    const QString name = QStringLiteral("wayland-test");
    environment_.insert(QStringLiteral("WAYLAND_DISPLAY"), name);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(ProgramLibrary());
        QLocalServer display;
        ASSERT_TRUE(display.listen(QDir(Runtime()).filePath(name)));
        QElapsedTimer sinceConnected;
        QObject::connect(&display, &QLocalServer::newConnection, &display, [&] {
            while (QLocalSocket* peer = display.nextPendingConnection()) {
                sinceConnected.start();
                peer->write(c.reply);
                peer->flush();
                if (c.hangUp)
                    peer->disconnectFromServer();
            }
        });
        QProcess* run = Launch({});
        const QByteArray line = "zuvora: the Wayland display " + name.toUtf8() + ' ' + c.said +
                                ": pets are drawn as ordinary windows\n";
        QByteArray said;
        ASSERT_TRUE(QTest::qWaitFor([&] {
            said += run->readAllStandardError();
            return said.contains(line);
        }, 15000)) << said.toStdString();
        if (!c.reply.isEmpty()) {
            EXPECT_LT(sinceConnected.elapsed(), 1000);
        }
        AwaitServing(run);
        EndsSaving(run, SIGTERM);
    }
}

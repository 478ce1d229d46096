// Draws Pip, the sample pet, as PNG frames and a project naming them, and the program's
// icon: make_pip FOLDER
//
// Pip is a small round chick, 128 by 128 pixels a frame, with four actions of eight frames
// to play in place: Idle (breathing and a blink), Hop, Wave and Sleep; and four that let him
// live on the desktop: Waddle (walking 3 px a frame), Fall, Land and Dangle (held by the
// person). Each action says its role for roaming. Every frame is drawn here with QPainter on
// a white ground, which the sheet marks transparent.
#include "common/Error.h"
#include "packer/ProjectFile.h"

#include <QDir>
#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>

#include <cmath>
#include <cstdio>
#include <vector>

namespace {

constexpr int kSize = 128;
constexpr int kFrames = 8;
constexpr double kPi = 3.14159265358979323846;

struct Pose {
    double lift = 0;        // body raised above the ground, pixels
    double squash = 1;      // vertical scale of the body
    double wing = 0;        // right wing raised, 0..1
    bool eyesClosed = false;
    int sleepZ = -1;        // phase of the rising "z" marks, -1 for none
    double tilt = 0;        // the whole chick leaning, degrees clockwise
    double stride = 0;      // -1..1: the left foot forward, or the right
    double leftWing = 0;    // left wing raised, 0..1
    bool dangling = false;  // held from above: feet hang, no shadow
};

void DrawZ(QPainter& p, QPointF at, double size)
{
    QPainterPath z;
    z.moveTo(at);
    z.lineTo(at + QPointF(size, 0));
    z.lineTo(at + QPointF(0, size));
    z.lineTo(at + QPointF(size, size));
    p.drawPath(z);
}

QImage DrawFrame(const Pose& pose)
{
    QImage frame(kSize, kSize, QImage::Format_RGB32);
    frame.fill(Qt::white);
    QPainter p(&frame);
    p.setRenderHint(QPainter::Antialiasing);

    const double ground = 118;
    // Shadow shrinks as Pip rises; held up, he has none.
    if (!pose.dangling) {
        const double shadow = 34 - pose.lift * 0.6;
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(200, 200, 210));
        p.drawEllipse(QPointF(64, ground), shadow, 5);
    }
    p.translate(64, ground);
    p.rotate(pose.tilt);
    p.translate(-64, -ground);

    const double bodyH = 70 * pose.squash;
    const double bodyW = 74 / std::sqrt(pose.squash);
    const QPointF centre(64, ground - 4 - pose.lift - bodyH / 2);

    // Feet.
    p.setPen(QPen(QColor(230, 140, 40), 4, Qt::SolidLine, Qt::RoundCap));
    const double feetY = ground - 4 - pose.lift;
    const double hang = pose.dangling ? 6 : 0;
    p.drawLine(QPointF(52, feetY - 6), QPointF(50 - 4 * pose.stride, feetY - 3 * std::max(pose.stride, 0.0) + hang));
    p.drawLine(QPointF(76, feetY - 6), QPointF(78 + 4 * pose.stride, feetY - 3 * std::max(-pose.stride, 0.0) + hang));

    // Body.
    p.setPen(QPen(QColor(200, 150, 20), 2));
    p.setBrush(QColor(255, 214, 64));
    p.drawEllipse(centre, bodyW / 2, bodyH / 2);
    // Belly.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 236, 150));
    p.drawEllipse(centre + QPointF(0, bodyH * 0.16), bodyW * 0.3, bodyH * 0.27);

    // Wings: the left one rests, the right one can wave.
    p.setPen(QPen(QColor(200, 150, 20), 2));
    p.setBrush(QColor(250, 196, 40));
    if (pose.leftWing > 0) {
        p.save();
        p.translate(centre + QPointF(-bodyW / 2 + 6, 0));
        p.rotate(20 + pose.leftWing * 110);
        p.drawEllipse(QPointF(0, 14), 9, 17);
        p.restore();
    } else {
        p.drawEllipse(centre + QPointF(-bodyW / 2 + 4, 6), 9, 16);
    }
    p.save();
    p.translate(centre + QPointF(bodyW / 2 - 6, 0));
    p.rotate(-20 - pose.wing * 110);
    p.drawEllipse(QPointF(0, 14), 9, 17);
    p.restore();

    // Eyes and beak.
    const QPointF eyeL = centre + QPointF(-13, -bodyH * 0.18);
    const QPointF eyeR = centre + QPointF(13, -bodyH * 0.18);
    p.setPen(QPen(QColor(40, 30, 30), 3, Qt::SolidLine, Qt::RoundCap));
    if (pose.eyesClosed) {
        p.drawArc(QRectF(eyeL - QPointF(6, 3), QSizeF(12, 6)), 200 * 16, 140 * 16);
        p.drawArc(QRectF(eyeR - QPointF(6, 3), QSizeF(12, 6)), 200 * 16, 140 * 16);
    } else {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(40, 30, 30));
        p.drawEllipse(eyeL, 5, 6);
        p.drawEllipse(eyeR, 5, 6);
        p.setBrush(QColor(250, 250, 250));
        p.drawEllipse(eyeL + QPointF(1.5, -2), 1.6, 1.6);
        p.drawEllipse(eyeR + QPointF(1.5, -2), 1.6, 1.6);
    }
    p.setPen(QPen(QColor(200, 100, 20), 1.5));
    p.setBrush(QColor(245, 130, 30));
    QPainterPath beak;
    const QPointF b = centre + QPointF(0, -bodyH * 0.05);
    beak.moveTo(b + QPointF(-7, 0));
    beak.lineTo(b + QPointF(7, 0));
    beak.lineTo(b + QPointF(0, 8));
    beak.closeSubpath();
    p.drawPath(beak);
    // Cheeks.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 150, 140));
    p.drawEllipse(centre + QPointF(-24, -bodyH * 0.02), 5, 3);
    p.drawEllipse(centre + QPointF(24, -bodyH * 0.02), 5, 3);

    if (pose.sleepZ >= 0) {
        p.setPen(QPen(QColor(90, 110, 200), 2.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(Qt::NoBrush);
        for (int i = 0; i < 2; ++i) {
            const double t = std::fmod(pose.sleepZ / double(kFrames) + i * 0.5, 1.0);
            DrawZ(p, QPointF(92 + t * 14, 40 - t * 34), 6 + t * 6);
        }
    }
    return frame;
}

struct TDrawnAction {
    QString name;
    std::vector<QImage> frames;
    TMotion motion;
};

std::vector<TDrawnAction> DrawActions()
{
    std::vector<TDrawnAction> actions;
    std::vector<QImage> idle, hop, wave, sleep, waddle;
    for (int f = 0; f < kFrames; ++f) {
        const double phase = 2 * kPi * f / kFrames;
        Pose breathe;
        breathe.squash = 1 + 0.04 * std::sin(phase);
        breathe.eyesClosed = f == 5;
        idle.push_back(DrawFrame(breathe));

        Pose jump;
        const double arc = std::sin(kPi * f / (kFrames - 1));
        jump.lift = 26 * arc;
        jump.squash = f == 0 || f == kFrames - 1 ? 0.86 : 1 + 0.08 * arc;
        hop.push_back(DrawFrame(jump));

        Pose greet;
        greet.wing = 0.5 + 0.5 * std::sin(phase);
        wave.push_back(DrawFrame(greet));

        Pose rest;
        rest.squash = 0.94 + 0.03 * std::sin(phase);
        rest.eyesClosed = true;
        rest.sleepZ = f;
        sleep.push_back(DrawFrame(rest));

        Pose walk;
        walk.stride = std::sin(phase);
        walk.tilt = 5 * std::sin(phase);
        walk.lift = 2 * std::abs(std::sin(phase));
        waddle.push_back(DrawFrame(walk));
    }
    std::vector<QImage> fall, land, dangle;
    for (int f = 0; f < kFrames / 2; ++f) {
        Pose flap;
        flap.wing = flap.leftWing = f % 2 == 0 ? 1 : 0.7;
        flap.squash = 1.06;
        flap.dangling = true;
        fall.push_back(DrawFrame(flap));

        Pose touch;
        touch.squash = 0.8 + 0.05 * f;
        touch.eyesClosed = f < 2;
        land.push_back(DrawFrame(touch));

        Pose held;
        held.dangling = true;
        held.tilt = 10 * std::sin(2 * kPi * f / (kFrames / 2));
        held.stride = 0.5 * std::sin(2 * kPi * f / (kFrames / 2));
        dangle.push_back(DrawFrame(held));
    }
    const auto role = [](TRole r) { return TMotion{r, {}, {}, {}, {}}; };
    actions.push_back({QStringLiteral("Idle"), idle, role(TRole::Idle)});
    actions.push_back({QStringLiteral("Hop"), hop, role(TRole::Idle)});
    actions.push_back({QStringLiteral("Wave"), wave, role(TRole::Idle)});
    actions.push_back({QStringLiteral("Sleep"), sleep, role(TRole::Sit)});
    actions.push_back({QStringLiteral("Waddle"), waddle, {TRole::Walk, TMove{3, 0}, {}, {}, {}}});
    actions.push_back({QStringLiteral("Fall"), fall, role(TRole::Fall)});
    actions.push_back({QStringLiteral("Land"), land, role(TRole::Land)});
    actions.push_back({QStringLiteral("Dangle"), dangle, role(TRole::Drag)});
    return actions;
}

// Writes every frame as a PNG file under `folder`/frames and the project "Pip.zvp" naming
// them, as a person using the packer would; the package is then built from the project.
void WriteProject(const QString& folder)
{
    const QDir root(folder);
    if (!root.mkpath(QStringLiteral("frames")))
        throw TError(QStringLiteral("cannot make the folder ") + root.filePath(QStringLiteral("frames")));
    QList<TProjectAction> project;
    for (const auto& [name, frames, motion] : DrawActions()) {
        TProjectAction action{name, {}, {}, motion};
        for (std::size_t f = 0; f < frames.size(); ++f) {
            const QString path = root.filePath(QStringLiteral("frames/%1-%2.png").arg(name.toLower()).arg(f));
            if (!frames[f].save(path, "PNG"))
                throw TError(QStringLiteral("cannot write ") + path);
            action.Frames.append(path);
        }
        project.append(action);
    }
    SaveProject(root.filePath(QStringLiteral("Pip.zvp")), project);
}

// The program's icon: Pip's first frame with white made clear, at the usual icon sizes,
// written as icons/<size>.png under `folder`.
void WriteIcons(const QString& folder)
{
    const QDir root(folder);
    if (!root.mkpath(QStringLiteral("icons")))
        throw TError(QStringLiteral("cannot make the folder ") + root.filePath(QStringLiteral("icons")));
    QImage pip = DrawActions().front().frames.front().convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < pip.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(pip.scanLine(y));
        for (int x = 0; x < pip.width(); ++x) {
            if ((row[x] & 0xFFFFFF) == 0xFFFFFF)
                row[x] = 0;
        }
    }
    for (int size : {16, 24, 32, 48, 64, 128, 256}) {
        const QString path = root.filePath(QStringLiteral("icons/%1.png").arg(size));
        if (!pip.scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation).save(path, "PNG"))
            throw TError(QStringLiteral("cannot write ") + path);
    }
}

}  // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 2) {
        std::fprintf(stderr, "usage: make_pip FOLDER\n");
        return 2;
    }
    try {
        WriteProject(args[1]);
        WriteIcons(args[1]);
    } catch (const TError& error) {
        std::fprintf(stderr, "make_pip: %s\n", qPrintable(error.Text()));
        return 1;
    }
    return 0;
}

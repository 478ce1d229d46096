#include "player/Roamer.h"

#include "package/PackageLayout.h"
#include "player/PetMemory.h"

#include <algorithm>
#include <climits>

namespace {

std::size_t Slot(TRole role) { return static_cast<std::size_t>(role); }

// The way the art of `action` faces: -1 left, +1 right.
int ArtFacing(const TAction& action) { return action.Motion.FacingOrFromMove() == TFacing::Left ? -1 : 1; }

std::int64_t Distance2(const QRect& area, QPoint point)
{
    const std::int64_t dx = std::max({area.left() - point.x(), 0, point.x() - area.right()});
    const std::int64_t dy = std::max({area.top() - point.y(), 0, point.y() - area.bottom()});
    return dx * dx + dy * dy;
}

}  // namespace

bool TRoamer::CanRoam(const TZvk& model)
{
    return std::any_of(model.Actions.begin(), model.Actions.end(), [](const TAction& action) {
        return action.Motion.Role == TRole::Walk && !action.Frames.empty() && action.Motion.WeightOrOne() > 0;
    });
}

TRoamer::TRoamer(const TZvk& model, Drawer draw) : model_(model), draw_(std::move(draw))
{
    for (std::size_t i = 0; i < model_.Actions.size(); ++i) {
        const TAction& action = model_.Actions[i];
        if (!action.Motion.Role || action.Frames.empty())
            continue;
        const TRole role = *action.Motion.Role;
        // What roaming chooses by chance a weight of 0 keeps for the menu alone.
        const bool chosen = role == TRole::Idle || role == TRole::Walk || role == TRole::Sit;
        if (!chosen || action.Motion.WeightOrOne() > 0)
            byRole_[Slot(role)].push_back(static_cast<int>(i));
    }
}

void TRoamer::SetScreens(const QList<QRect>& areas)
{
    screens_.clear();
    for (const QRect& area : areas) {
        if (!area.isEmpty())
            screens_.append(area);
    }
    // A pet whose screen went is put on the nearest one, from where it falls.
    const QPoint inside(foot_.x(), foot_.y() - 1);
    if (!screens_.isEmpty() && std::none_of(screens_.begin(), screens_.end(), [&](const QRect& a) { return a.contains(inside); }))
        KeepInside(Screen(), size_);
}

void TRoamer::SetLedges(const QList<TLedge>& ledges) { ledges_ = ledges; }

void TRoamer::PlaceFoot(QPoint foot) { foot_ = foot; }

void TRoamer::Hold(QPoint foot)
{
    foot_ = foot;
    if (!held_) {
        held_ = true;
        Begin(TRole::Drag);
    }
}

void TRoamer::Release(QPoint velocity)
{
    held_ = false;
    const auto cap = [](int v) { return std::clamp(v, -kMaxThrowSpeed, kMaxThrowSpeed); };
    velocity_ = QPoint(cap(velocity.x()), cap(velocity.y()));
    Begin(TRole::Fall);
}

QRect TRoamer::Screen() const
{
    // The screen the pet stands on is the one just above its foot.
    const QPoint inside(foot_.x(), foot_.y() - 1);
    const QRect* nearest = nullptr;
    std::int64_t best = LLONG_MAX;
    for (const QRect& area : screens_) {
        if (const std::int64_t d = Distance2(area, inside); d < best) {
            best = d;
            nearest = &area;
        }
    }
    return nearest != nullptr ? *nearest : QRect();
}

std::optional<int> TRoamer::FloorAt(int x, int from, int to) const
{
    const QRect area = Screen();
    std::optional<int> floor;
    const auto consider = [&](int y) {
        if (y >= from && y <= to && (!floor || y < *floor))
            floor = y;
    };
    if (x >= area.left() && x <= area.right())
        consider(area.bottom() + 1);
    for (const TLedge& ledge : ledges_) {
        if (x >= ledge.Left && x <= ledge.Right && ledge.Y > area.top() && ledge.Y <= area.bottom())
            consider(ledge.Y);
    }
    return floor;
}

bool TRoamer::OnFloor() const { return FloorAt(foot_.x(), foot_.y(), foot_.y()).has_value(); }

QSize TRoamer::SizeOf(const TFrame& frame) const
{
    // The window's own size: no side beyond what a pet window may take.
    const auto side = [this](std::int32_t frameSide) {
        return static_cast<int>(std::min<std::int64_t>(std::int64_t{std::max(frameSide, 1)} * scale_, kMaxPetSide));
    };
    return QSize(side(frame.Width), side(frame.Height));
}

QPair<int, int> TRoamer::FootSpan(const QRect& area, QSize size)
{
    // A pet wider than the area stands in its middle: its foot is always over the area, so
    // that the area's floor holds it.
    if (size.width() > area.width())
        return {area.left() + area.width() / 2, area.left() + area.width() / 2};
    const int half = size.width() / 2;
    return {area.left() + half, area.left() + area.width() - (size.width() - half)};
}

void TRoamer::KeepInside(const QRect& area, QSize size)
{
    if (area.isEmpty())
        return;
    const auto [lowX, highX] = FootSpan(area, size);
    const int lowY = std::min(area.top() + size.height(), area.bottom() + 1);
    foot_ = QPoint(std::clamp(foot_.x(), lowX, highX), std::clamp(foot_.y(), lowY, area.bottom() + 1));
}

void TRoamer::Begin(TRole role, int cycles)
{
    // A role the package lacks is shown with an idle action, else a walking one.
    std::vector<int> choices = byRole_[Slot(role)];
    if (role == TRole::Idle && Has(TRole::Sit)) {
        // Resting is sitting or idling, by their weights together.
        choices.insert(choices.end(), byRole_[Slot(TRole::Sit)].begin(), byRole_[Slot(TRole::Sit)].end());
    }
    for (const TRole fallback : {TRole::Idle, TRole::Sit, TRole::Walk}) {
        if (choices.empty())
            choices = byRole_[Slot(fallback)];
    }
    state_ = role;
    cycles_ = cycles;
    next_ = 0;
    action_ = -1;
    std::int64_t total = 0;
    for (const int a : choices)
        total += std::max(1, model_.Actions[static_cast<std::size_t>(a)].Motion.WeightOrOne());
    if (total == 0)
        return;
    std::int64_t pick = choices.size() == 1 ? 0 : draw_(static_cast<std::int32_t>(std::min<std::int64_t>(total, INT32_MAX) - 1));
    for (const int a : choices) {
        pick -= std::max(1, model_.Actions[static_cast<std::size_t>(a)].Motion.WeightOrOne());
        if (pick < 0) {
            action_ = a;
            break;
        }
    }
    if (action_ >= 0 && model_.Actions[static_cast<std::size_t>(action_)].Motion.Role == TRole::Sit && role == TRole::Idle)
        state_ = TRole::Sit;
}

void TRoamer::ChooseNext()
{
    if (held_) {
        Begin(TRole::Drag);
        return;
    }
    // A climb goes on for its cycles, then the pet lets go of the wall.
    if (state_ == TRole::Climb) {
        if (--cycles_ > 0) {
            next_ = 0;
            return;
        }
        velocity_ = QPoint(-facing_ * 2, 0);
        facing_ = -facing_;
        Begin(TRole::Fall);
        return;
    }
    if (!OnFloor()) {
        if (state_ != TRole::Fall) {
            velocity_ = QPoint();
            Begin(TRole::Fall);
        } else {
            next_ = 0;
        }
        return;
    }
    // Walks and rests play their action some times over.
    const bool cycling = state_ == TRole::Walk || state_ == TRole::Idle || state_ == TRole::Sit;
    if (cycling && --cycles_ > 0 && !chase_) {
        next_ = 0;
        return;
    }
    if (chase_) {
        const int dx = chase_->x() - foot_.x();
        if (std::abs(dx) > kNearPointer && !still_) {
            facing_ = dx < 0 ? -1 : 1;
            Begin(TRole::Walk);
        } else {
            Begin(TRole::Idle);
        }
        return;
    }
    // Calm: resting twice as often as walking; each for a second or a few.
    const bool canRest = Has(TRole::Idle) || Has(TRole::Sit);
    if (still_ || (canRest && draw_(2) != 0)) {
        Begin(TRole::Idle);
    } else {
        facing_ = draw_(1) == 0 ? -1 : 1;
        Begin(TRole::Walk);
    }
    if (action_ >= 0) {
        const TAction& chosen = model_.Actions[static_cast<std::size_t>(action_)];
        const auto length = static_cast<std::int64_t>(chosen.Frames.size()) * chosen.Motion.FrameMs();
        cycles_ = static_cast<int>(std::min<std::int64_t>(1000 / length + 1, 50)) * (1 + draw_(2));
    }
}

void TRoamer::Play(int action)
{
    if (action < 0 || action >= static_cast<int>(model_.Actions.size()) ||
        model_.Actions[static_cast<std::size_t>(action)].Frames.empty() || held_ || !OnFloor())
        return;
    const TRole role = model_.Actions[static_cast<std::size_t>(action)].Motion.Role.value_or(TRole::Idle);
    state_ = role == TRole::Walk || role == TRole::Sit ? role : TRole::Idle;
    action_ = action;
    next_ = 0;
    cycles_ = 1;
}

TRoamStep TRoamer::Step()
{
    const auto frames = [this] { return action_ >= 0 ? model_.Actions[static_cast<std::size_t>(action_)].Frames.size() : 0; };
    if (action_ < 0 || next_ >= frames())
        ChooseNext();
    TRoamStep step;
    step.State = state_;
    step.PauseMs = kFrameMs;
    if (action_ < 0 || next_ >= frames()) {
        step.TopLeft = QPoint(foot_.x() - size_.width() / 2, foot_.y() - size_.height());
        return step;
    }
    const TAction& action = model_.Actions[static_cast<std::size_t>(action_)];
    step.Action = action_;
    step.Starts = next_ == 0;
    step.Frame = &action.Frames[next_++];
    step.Mirrored = facing_ != ArtFacing(action);
    step.PauseMs = action.Motion.FrameMs();
    size_ = SizeOf(*step.Frame);
    Move(action, size_);
    step.TopLeft = QPoint(foot_.x() - size_.width() / 2, foot_.y() - size_.height());
    return step;
}

void TRoamer::Move(const TAction& action, QSize size)
{
    switch (state_) {
    case TRole::Drag:
        return;  // where the person holds it, on any screen
    case TRole::Fall:
        Fall(size);
        break;
    case TRole::Climb: {
        const TMove move = action.Motion.MoveOrStill();
        foot_.ry() -= std::max(std::abs(move.Dy), std::abs(move.Dx)) * scale_;
        // At the top of its screen it lets go.
        if (foot_.y() - size.height() <= Screen().top()) {
            cycles_ = 1;
            next_ = action.Frames.size();
        }
        break;
    }
    case TRole::Walk:
        Walk(action, size);
        break;
    default:
        // Whatever held it up (a window) has gone: it falls from where it is.
        if (!OnFloor()) {
            velocity_ = QPoint();
            Begin(TRole::Fall);
        }
        break;
    }
    KeepInside(Screen(), size);
}

void TRoamer::Walk(const TAction& action, QSize size)
{
    const TMove move = action.Motion.MoveOrStill();
    // The art's own way is the move's way; drawn mirrored, both turn round.
    const int dx = (facing_ != ArtFacing(action) ? -move.Dx : move.Dx) * scale_;
    const auto [lowX, highX] = FootSpan(Screen(), size);
    int x = foot_.x() + dx;
    if (x < lowX || x > highX) {
        x = std::clamp(x, lowX, highX);
        if (Has(TRole::Climb) && draw_(1) == 0) {
            Begin(TRole::Climb, 1 + draw_(3));
        } else {
            facing_ = -facing_;
        }
    }
    foot_.setX(x);
    // A chasing pet rests once it is near the pointer.
    if (chase_ && std::abs(chase_->x() - x) <= kNearPointer)
        next_ = action.Frames.size();
    // Walked off the end of a window: it falls on the way it went.
    if (state_ == TRole::Walk && !OnFloor()) {
        velocity_ = QPoint(dx, 0);
        Begin(TRole::Fall);
    }
}

void TRoamer::Fall(QSize size)
{
    velocity_.setY(std::min(velocity_.y() + kGravity, kTerminalSpeed));
    const QRect area = Screen();
    const auto [lowX, highX] = FootSpan(area, size);
    QPoint to = foot_ + velocity_;
    // Thrown against a side, it bounces back with half the speed.
    if (to.x() < lowX || to.x() > highX) {
        to.setX(std::clamp(to.x(), lowX, highX));
        velocity_.setX(-velocity_.x() / 2);
    }
    if (to.y() - size.height() < area.top()) {
        to.setY(std::min(area.top() + size.height(), area.bottom() + 1));
        velocity_.setY(0);
    }
    const std::optional<int> floor = velocity_.y() > 0 ? FloorAt(to.x(), foot_.y() + 1, to.y()) : std::nullopt;
    foot_ = to;
    if (!floor)
        return;
    foot_.setY(*floor);
    velocity_ = QPoint();
    if (Has(TRole::Land)) {
        Begin(TRole::Land);
    } else {
        state_ = TRole::Idle;
        next_ = model_.Actions[static_cast<std::size_t>(action_)].Frames.size();
    }
}

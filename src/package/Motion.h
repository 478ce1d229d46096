#pragma once

#include <QString>

#include <cstdint>
#include <functional>
#include <optional>

// How an action moves a pet on the desktop, as a manifest's or a project's action may say
// after its own parts. Each part is optional: a writer writes only what is set, so files
// without them stay as they were.
enum class TRole { Idle, Walk, Sit, Fall, Land, Drag, Climb };
enum class TFacing { Left, Right };

struct TMove {
    std::int32_t Dx = 0;  // pixels a frame at 1x size, in the way the art is drawn
    std::int32_t Dy = 0;
    bool operator==(const TMove&) const = default;
};

struct TMotion {
    std::optional<TRole> Role;
    std::optional<TMove> Move;
    std::optional<TFacing> Facing;
    std::optional<std::int32_t> Weight;    // how often roaming picks it; 0: only from the menu
    std::optional<std::int32_t> Interval;  // milliseconds a frame

    bool operator==(const TMotion&) const = default;
    bool IsSet() const { return Role || Move || Facing || Weight || Interval; }
    // The values that hold when a part is not set.
    TMove MoveOrStill() const { return Move.value_or(TMove{}); }
    TFacing FacingOrFromMove() const { return Facing.value_or(MoveOrStill().Dx < 0 ? TFacing::Left : TFacing::Right); }
    std::int32_t WeightOrOne() const { return Weight.value_or(1); }
    std::int32_t FrameMs() const;
};

inline constexpr std::int32_t kMaxMoveStep = 64;
inline constexpr std::int32_t kMaxWeight = 1000;
inline constexpr std::int32_t kMinInterval = 20;
inline constexpr std::int32_t kMaxInterval = 1000;

// Each part's text, as the element holds it, and back. A text out of range or malformed
// reads as nothing.
QString RoleName(TRole role);
std::optional<TRole> ParseRole(const QString& text);
std::optional<TMove> ParseMove(const QString& text);
std::optional<TFacing> ParseFacing(const QString& text);
std::optional<std::int32_t> ParseWeight(const QString& text);
std::optional<std::int32_t> ParseInterval(const QString& text);

// Reads the parts from their elements: `text(name)` gives an element's text, or nothing
// when the element is not there. A part whose text cannot be read is left unset and named
// in the returned problem.
std::optional<QString> ReadMotion(const std::function<std::optional<QString>(const QString& name)>& text, TMotion& motion);
// Writes the parts that are set, in their order, as `add(name, text)`.
void WriteMotion(const TMotion& motion, const std::function<void(const QString& name, const QString& text)>& add);
// One line of the set parts ("role walk, move -4 0, ..."), for people; empty when none is.
QString DescribeMotion(const TMotion& motion);

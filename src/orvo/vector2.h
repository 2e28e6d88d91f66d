// The engine's 2-D vector of floats: positions, sizes, velocities and directions everywhere.
// Header only, so that the many temporaries of the car step stay cheap stack objects.
#pragma once

#include <cmath>
#include <cstdio>

namespace orvo {

class Vector2 {
public:
    float x;
    float y;

    Vector2() : x(0.0f), y(0.0f) {}
    Vector2(float x, float y) : x(x), y(y) {}
    Vector2(const Vector2&) = default;
    Vector2& operator=(const Vector2&) = default;
    virtual ~Vector2() = default;

    Vector2 operator+(const Vector2& other) const { return Vector2(x + other.x, y + other.y); }
    Vector2 operator-(const Vector2& other) const { return Vector2(x - other.x, y - other.y); }
    Vector2 operator*(float factor) const { return Vector2(x * factor, y * factor); }

    Vector2& operator+=(const Vector2& other)
    {
        x += other.x;
        y += other.y;
        return *this;
    }

    float Dot(const Vector2& other) const { return x * other.x + y * other.y; }

    // Lengths below the threshold read as exactly 0, so that every caller comparing a
    // length with 0 sees a vector that has no usable direction as standing still.
    float GetLength() const
    {
        if (x == 0.0f && y == 0.0f) {
            return 0.0f;
        }
        const float length = static_cast<float>(std::sqrt(static_cast<double>(x * x + y * y)));
        return length < kNearZero ? 0.0f : length;
    }

    float GetDistance(const Vector2& other) const { return (*this - other).GetLength(); }

    bool IsNearZero() const { return std::fabs(x) < kNearZero && std::fabs(y) < kNearZero; }

    // Warns about a (near-)zero vector but carries on: a tiny vector still comes out with unit
    // length. The exact zero vector has no direction at all and is left as it is.
    void Normalize()
    {
        if (IsNearZero()) {
            std::printf("[Vector2::Normalize] Trying to normalize 0-vector");
        }
        const float lengthSquared = x * x + y * y;
        if (x == 0.0f && y == 0.0f) {
            return;
        }
        const float inv = static_cast<float>(1.0 / std::sqrt(static_cast<double>(lengthSquared)));
        x *= inv;
        y *= inv;
    }

    Vector2 GetNormalized() const
    {
        if (IsNearZero()) {
            std::printf("[Vector2::GetNormalized] Trying to normalize 0-vector");
        }
        Vector2 normalized(*this);
        normalized.Normalize();
        return normalized;
    }

    // A positive angle turns clockwise on the screen, whose y axis points down.
    Vector2 GetRotated(float angle) const
    {
        const double c = std::cos(static_cast<double>(angle));
        const double s = std::sin(static_cast<double>(angle));
        return Vector2(static_cast<float>(x * c - y * s), static_cast<float>(x * s + y * c));
    }

    // Direction angle in [0, 2 pi].
    float GetAngle() const
    {
        float angle = static_cast<float>(std::atan2(static_cast<double>(y), static_cast<double>(x)));
        if (angle < 0.0f) {
            angle += kTwoPi;
        }
        return angle;
    }

    // Signed angle that turns this direction onto the direction of `other`, in [-pi, pi].
    float GetAngleTo(const Vector2& other) const
    {
        const float cross = y * other.x - x * other.y;
        const float dot = x * other.x + y * other.y;
        const float angle = static_cast<float>(std::atan2(static_cast<double>(cross), static_cast<double>(dot)));
        return -angle;
    }

    // `deviant`, pulled toward this vector until it lies within `maximumDeviation` of it.
    Vector2 EnforceMaximumDeviation(const Vector2& deviant, float maximumDeviation) const
    {
        const Vector2 difference = *this - deviant;
        const float distance = difference.GetLength();
        if (distance > maximumDeviation) {
            return deviant + difference.GetNormalized() * (distance - maximumDeviation);
        }
        return deviant;
    }

private:
    static constexpr float kNearZero = 1e-06f;
    static constexpr float kTwoPi = 6.2831855f;
};

} // namespace orvo

// Touch controls of the race: the buttons' layout and images, and the fingers that hold them.
#include "race_touch.h"

#include <algorithm>

namespace {

// Square buttons of 160 picture pixels. On a phone held sideways (844 x 390 CSS pixels, about 160
// of them to the inch) the page fits the 1280 x 720 picture to the height, 0.54 CSS pixels to a
// picture pixel: a button is then 87 CSS pixels, 14 mm across, above the 12 mm a thumb needs.
constexpr int kButtonSize = 160;
// Off the edges: SDL moves a touch in the bars beside the picture onto its edge, and such a touch
// must press nothing.
constexpr int kEdgeMargin = 32;

constexpr float kQuarterTurn = 1.5707964f;
constexpr float kImageRotations[TouchControls::kButtonCount] = {-kQuarterTurn, kQuarterTurn, 2.0f * kQuarterTurn, 0.0f};

} // namespace

TouchControls::TouchControls(const orvo::Viewport& viewport) : pictureWidth(viewport.w), pictureHeight(viewport.h)
{
    // Each pair's buttons touch, so a finger rocking between them never passes over a gap.
    const int top = pictureHeight - kEdgeMargin - kButtonSize;
    const int pedals = pictureWidth - kEdgeMargin - 2 * kButtonSize;
    const int lefts[kButtonCount] = {kEdgeMargin, kEdgeMargin + kButtonSize, pedals, pedals + kButtonSize};
    for (int button = 0; button < kButtonCount; ++button) {
        areas[button] = SDL_Rect{lefts[button], top, kButtonSize, kButtonSize};
        orvo::Sprite** sprites[2] = {&images[button], &litImages[button]};
        const char* paths[2] = {"res/gfx/touchbutton.png", "res/gfx/touchbuttonlit.png"};
        for (int lit = 0; lit < 2; ++lit) {
            orvo::Sprite* sprite = new orvo::Sprite(nullptr);
            sprite->LoadFile(paths[lit], orvo::FILTER_LINEAR);
            sprite->spatial.position = orvo::Vector2(static_cast<float>(lefts[button] + kButtonSize / 2),
                                                     static_cast<float>(top + kButtonSize / 2));
            sprite->spatial.size = orvo::Vector2(kButtonSize, kButtonSize);
            // One arrow image, pointing up, turned to the key the button stands for.
            sprite->spatial.rotation = kImageRotations[button];
            *sprites[lit] = sprite;
        }
    }
}

TouchControls::~TouchControls()
{
    for (int button = 0; button < kButtonCount; ++button) {
        delete images[button];
        delete litImages[button];
    }
}

TouchControls::Finger* TouchControls::FindFinger(const SDL_TouchFingerEvent& event)
{
    for (Finger& finger : fingers) {
        if (finger.device == event.touchId && finger.id == event.fingerId) {
            return &finger;
        }
    }
    return nullptr;
}

void TouchControls::Press(const SDL_TouchFingerEvent& event)
{
    shown = true;
    const int button = FindButton(event.x, event.y);
    // A finger whose up was lost touches again under the same id.
    if (Finger* finger = FindFinger(event)) {
        finger->button = button;
    } else {
        fingers.push_back(Finger{event.touchId, event.fingerId, button});
    }
}

void TouchControls::Slide(const SDL_TouchFingerEvent& event)
{
    // A finger that went down before a cancellation stays ignored until it touches again.
    if (Finger* finger = FindFinger(event)) {
        finger->button = FindButton(event.x, event.y);
    }
}

void TouchControls::Lift(const SDL_TouchFingerEvent& event)
{
    fingers.erase(std::remove_if(fingers.begin(), fingers.end(),
                                 [&](const Finger& finger) {
                                     return finger.device == event.touchId && finger.id == event.fingerId;
                                 }),
                  fingers.end());
}

void TouchControls::Cancel() { fingers.clear(); }

int TouchControls::FindButton(float x, float y) const
{
    const float pixelX = x * static_cast<float>(pictureWidth);
    const float pixelY = y * static_cast<float>(pictureHeight);
    for (int button = 0; button < kButtonCount; ++button) {
        const SDL_Rect& area = areas[button];
        if (pixelX >= area.x && pixelX < area.x + area.w && pixelY >= area.y && pixelY < area.y + area.h) {
            return button;
        }
    }
    return kNoButton;
}

bool TouchControls::IsHeld(int button) const
{
    return std::any_of(fingers.begin(), fingers.end(),
                       [button](const Finger& finger) { return finger.button == button; });
}

HeldDirections TouchControls::GetHeldDirections() const
{
    return HeldDirections{IsHeld(kSteerLeft), IsHeld(kSteerRight), IsHeld(kDrive), IsHeld(kBrake)};
}

void TouchControls::Draw() const
{
    if (!shown) {
        return;
    }
    for (int button = 0; button < kButtonCount; ++button) {
        (IsHeld(button) ? litImages[button] : images[button])->Draw();
    }
}

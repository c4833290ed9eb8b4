#pragma once

// What the four start/stop controls show. Their enabled flags are the only record of whether
// capture runs: Running exactly when Stop is enabled.
enum class CaptureState {
    NoAdapter, // Start and Stop disabled
    Ready,     // Start enabled, Stop disabled
    Running,   // Start disabled, Stop enabled
};

// The encoder set-up goes on past a failing encoder member: each step runs through a StepRunner, a step
// that raises is skipped, and the routine looks at the last failure when it ends.
#pragma once

#include "capture/encoder/encoder.h"

#include <cstdint>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>

namespace capture {

class StepRunner {
public:
    // A runner that is not suspended lets failures go straight up to the caller: the parts of the
    // set-up that catch nothing share their code with parts that do.
    explicit StepRunner(bool suspended = true) : suspended_(suspended) {}

    // True when the step ran to its end.
    template <typename Step> bool run(Step&& step) {
        if (!suspended_) {
            std::forward<Step>(step)();
            return true;
        }
        try {
            std::forward<Step>(step)();
            return true;
        } catch (const encoder::EncoderError& error) {
            lastError_ = error;
            return false;
        }
    }

    // The step's result, or nothing when it failed.
    template <typename Step> auto value(Step&& step) -> std::optional<std::invoke_result_t<Step>> {
        std::optional<std::invoke_result_t<Step>> result;
        run([&] { result = std::forward<Step>(step)(); });
        return result;
    }

    // Assigns the step's result; a failing step leaves the target as it was.
    template <typename Target, typename Step> bool set(Target& target, Step&& step) {
        auto result = value(std::forward<Step>(step));
        if (result)
            target = std::move(*result);
        return result.has_value();
    }

    const std::optional<encoder::EncoderError>& lastError() const { return lastError_; }
    void clear() { lastError_.reset(); }

private:
    bool suspended_;
    std::optional<encoder::EncoderError> lastError_;
};

// Encoder error numbers in messages: upper-case hexadecimal after "0x", or the signed decimal form a
// 32-bit error code has.
std::string hexNumber(uint32_t number);
std::string decimalNumber(uint32_t number);

} // namespace capture

// The error numbers the engine raises (the table in README.md), and the helper that raises them.
#pragma once

#include "capture/encoder/encoder.h"

#include <cstdint>
#include <string>

namespace encoder::errors {

constexpr uint32_t kMarkOutBeyondLength = 0xC00D1B59;
constexpr uint32_t kInvalidArgument = 0x80070057;
constexpr uint32_t kNotImplemented = 0x80004001;
constexpr uint32_t kInputOpenFailed = 0x80040200;
constexpr uint32_t kNoSuchStream = 0x80040201;
constexpr uint32_t kNotFound = 0x80040202;
constexpr uint32_t kNoOutput = 0x80040203;
constexpr uint32_t kNoProfile = 0x80040204;
constexpr uint32_t kProfileMismatch = 0x80040205;
constexpr uint32_t kWrongState = 0x80040206;
constexpr uint32_t kOutputOpenFailed = 0x80040207;
constexpr uint32_t kCodecFailed = 0x80040208;
constexpr uint32_t kNoSources = 0x80040209;
constexpr uint32_t kBadProfileFile = 0x8004020A;
constexpr uint32_t kBadMarks = 0x8004020B;
constexpr uint32_t kBadSessionFile = 0x8004020C;

[[noreturn]] inline void raise(uint32_t number, const std::string& description) {
    throw EncoderError(number, description);
}

} // namespace encoder::errors
